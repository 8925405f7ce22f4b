#pragma once
// A tab page whose children are placed in twips (15 twips = 1 pixel at
// 96 dpi) measured from the corner of the tab control that holds the page,
// tab strip included, as the window was first drawn. The page itself sits
// below the tab strip, so each child is placed at its position less the
// page's own offset in the tab control, whenever the page moves or resizes.

#include <QRect>
#include <QWidget>

#include <vector>

namespace tolvane {

class TwipsPage final : public QWidget {
public:
    explicit TwipsPage(QWidget* tabControl) : m_tabControl(tabControl) {}

    // Places child at (left, top, width, height) in twips; a negative width
    // or height keeps the child's own size hint for it.
    template <class W>
    W* place(W* child, int left, int top, int width, int height) {
        child->setParent(this);
        m_items.push_back({child, QRect(left, top, width, height)});
        layoutChild(m_items.back());
        return child;
    }

protected:
    void resizeEvent(QResizeEvent*) override { layoutAll(); }
    void moveEvent(QMoveEvent*) override { layoutAll(); }

private:
    struct Item {
        QWidget* widget;
        QRect twips;
    };
    void layoutAll() {
        for (const Item& item : m_items) layoutChild(item);
    }
    void layoutChild(const Item& item) {
        const QPoint offset = isAncestorOf(m_tabControl) || !m_tabControl->isAncestorOf(this)
                                  ? QPoint()
                                  : mapTo(m_tabControl, QPoint(0, 0));
        const int w = item.twips.width() < 0 ? item.widget->sizeHint().width() : item.twips.width() / 15;
        const int h = item.twips.height() < 0 ? item.widget->sizeHint().height() : item.twips.height() / 15;
        const int x = std::max(0, item.twips.left() / 15 - offset.x());
        const int y = std::max(0, item.twips.top() / 15 - offset.y());
        item.widget->setGeometry(x, y, w, h);
    }

    QWidget* m_tabControl;
    std::vector<Item> m_items;
};

}  // namespace tolvane

#pragma once
// A check box that can show the greyed third state a stored setting may
// hold (value 2), while the operator's click only ever ticks or clears it.

#include <QCheckBox>

namespace tolvane {

class ToolCheckBox final : public QCheckBox {
public:
    explicit ToolCheckBox(const QString& text, QWidget* parent = nullptr) : QCheckBox(text, parent) {}

protected:
    void nextCheckState() override { setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked); }
};

}  // namespace tolvane

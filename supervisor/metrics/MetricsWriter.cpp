#include "supervisor/metrics/MetricsWriter.h"

#include <QDir>
#include <QSaveFile>

namespace tolvane {

MetricsAlert metricsAlert(bool& failing, bool written) {
    if (written == !failing) return MetricsAlert::None;
    failing = !written;
    return written ? MetricsAlert::WritableAgain : MetricsAlert::Unwritable;
}

MetricsWriter::MetricsWriter(QObject* parent) : QObject(parent) { m_pool.setMaxThreadCount(1); }

MetricsWriter::~MetricsWriter() { m_pool.waitForDone(); }

bool MetricsWriter::write(const QString& folder, std::string text) {
    if (m_busy) return false;
    m_busy = true;
    const QString file = QDir(folder).filePath(QString::fromLatin1(FileName));
    m_pool.start([this, file, text = std::move(text)] {
        QSaveFile out(file);
        const bool written = out.open(QIODevice::WriteOnly) &&
                             out.write(text.data(), static_cast<qint64>(text.size())) ==
                                 static_cast<qint64>(text.size()) &&
                             out.commit();
        const QString reason = written ? QString() : out.errorString();
        QMetaObject::invokeMethod(
            this,
            [this, written, file, reason] {
                m_busy = false;
                if (done) done(written, file, reason);
            },
            Qt::QueuedConnection);
    });
    return true;
}

}  // namespace tolvane

#include "supervisor/metrics/MetricsWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

namespace tolvane {

namespace {
constexpr int RenameAttempts = 3;
constexpr unsigned long RenameRetryMs = 100;
}  // namespace

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
        // A collector reading the file at that moment may hold it open
        // without letting it be replaced (Windows refuses the rename while
        // it reads): a second try a little later is not a failure worth a
        // journal line. Off the GUI thread, so the wait holds nothing up.
        bool written = false;
        QString reason;
        for (int attempt = 0; attempt < RenameAttempts && !written; ++attempt) {
            if (attempt > 0) QThread::msleep(RenameRetryMs);
            QSaveFile out(file);
            written = out.open(QIODevice::WriteOnly) &&
                      out.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
                      out.commit();
            if (!written) reason = out.errorString();
            // A folder that is not there will not be there in 100 ms either.
            if (!written && !QDir(QFileInfo(file).path()).exists()) break;
        }
        if (written) reason.clear();
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

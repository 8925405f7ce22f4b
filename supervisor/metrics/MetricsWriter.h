#pragma once

// Writing the metrics file, away from the GUI thread: a folder that is slow,
// full or gone must never slow supervision. Each write replaces the file
// whole (a temporary file in the same folder, then a rename), so a collector
// never reads half a file; a write still running when the next is due makes
// that one be skipped rather than queued.

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <string>

namespace tolvane {

// What a write's outcome says to the journal: once when writing stops
// working, once when it works again, nothing in between. `failing` is kept by
// the caller from one write to the next.
enum class MetricsAlert { None, Unwritable, WritableAgain };
MetricsAlert metricsAlert(bool& failing, bool written);

class MetricsWriter final : public QObject {
public:
    explicit MetricsWriter(QObject* parent = nullptr);
    // Waits for a write in flight: the file is never left half renamed.
    ~MetricsWriter() override;
    MetricsWriter(const MetricsWriter&) = delete;
    MetricsWriter& operator=(const MetricsWriter&) = delete;

    static constexpr const char* FileName = "tolvane.prom";

    // Writes `text` as FileName in `folder` on a thread of its own; false,
    // and nothing done, while the last write still runs.
    bool write(const QString& folder, std::string text);

    // Called on this object's thread once a write has ended: whether it was
    // written, the file's path, and why not.
    std::function<void(bool written, const QString& file, const QString& reason)> done;

private:
    QThreadPool m_pool;
    bool m_busy = false;  // touched on this object's thread only
};

}  // namespace tolvane

// The metrics file written on a thread of its own, whole or not at all, and
// journaled once when writing stops working and once when it works again.
#include "supervisor/metrics/MetricsWriter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <vector>

namespace {

using tolvane::MetricsAlert;
using tolvane::MetricsWriter;

struct Outcome {
    bool written = false;
    QString file;
    QString reason;
};

// Runs the event loop until the write has ended, for at most five seconds.
std::optional<Outcome> finish(MetricsWriter& writer) {
    std::optional<Outcome> outcome;
    writer.done = [&](bool written, const QString& file, const QString& reason) {
        outcome = Outcome{written, file, reason};
    };
    QElapsedTimer waited;
    waited.start();
    while (!outcome && waited.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return outcome;
}

TEST(MetricsWriter, ReplacesTheFileWholeAndSkipsAWriteWhileOneRuns) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    MetricsWriter writer;
    ASSERT_TRUE(writer.write(folder.path(), "tolvane_info{version=\"1\"} 1\n"));
    // The first is still running (its end is told on this thread, which has
    // not run its events yet): the second is skipped, not queued.
    EXPECT_FALSE(writer.write(folder.path(), "skipped\n"));
    auto outcome = finish(writer);
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->written) << outcome->reason.toStdString();

    ASSERT_TRUE(writer.write(folder.path(), "second\n"));
    outcome = finish(writer);
    ASSERT_TRUE(outcome && outcome->written);
    QFile file(QDir(folder.path()).filePath("tolvane.prom"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second\n"));
    // Nothing left beside it: no temporary file for a collector to read.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tolvane.prom"});
}

TEST(MetricsWriter, AFolderThatIsGoneIsAFailureWithItsReason) {
    QTemporaryDir parent;
    MetricsWriter writer;
    ASSERT_TRUE(writer.write(QDir(parent.path()).filePath("gone"), "x 1\n"));
    const auto outcome = finish(writer);
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->written);
    EXPECT_FALSE(outcome->reason.isEmpty());
    EXPECT_TRUE(outcome->file.endsWith("gone/tolvane.prom"));
}

TEST(MetricsAlert, OnceWhenItStopsAndOnceWhenItWorksAgain) {
    const std::vector<bool> written{true, false, false, false, true, true, false};
    const std::vector<MetricsAlert> expected{MetricsAlert::None,          MetricsAlert::Unwritable, MetricsAlert::None,
                                             MetricsAlert::None,          MetricsAlert::WritableAgain,
                                             MetricsAlert::None,          MetricsAlert::Unwritable};
    bool failing = false;
    for (std::size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(tolvane::metricsAlert(failing, written[i]), expected[i]) << "write " << i;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

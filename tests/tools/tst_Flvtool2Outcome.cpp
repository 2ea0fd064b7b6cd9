#include "Outcome.h"
#include "flv/Bytes.h"

#include <QTest>

#include <cerrno>
#include <new>
#include <system_error>

using namespace quillora::flvtool2;

Q_DECLARE_METATYPE(std::exception_ptr)

// Each kind of failure as one line and its documented exit code; the usage only where the
// command line was wrong.
class TestFlvtool2Outcome : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("usage");
        QTest::newRow("done") << std::exception_ptr() << 0 << "" << false;
        QTest::newRow("wrong command line")
            << std::make_exception_ptr(CommandLineError("no command given")) << 2
            << "flvtool2: no command given" << true;
        QTest::newRow("not an FLV")
            << std::make_exception_ptr(quillora::flv::FormatError(13, "tag size beyond the file"))
            << 3 << "flvtool2: in.flv: offset 13: tag size beyond the file" << false;
        QTest::newRow("metadata too large")
            << std::make_exception_ptr(quillora::flv::RenderError("onMetaData too large")) << 1
            << "flvtool2: in.flv: onMetaData too large; nothing was written" << false;
        QTest::newRow("a system call failed")
            << std::make_exception_ptr(
                   std::system_error(ENOSPC, std::generic_category(), "cannot write out.flv"))
            << 1 << "flvtool2: cannot write out.flv: No space left on device" << false;
        QTest::newRow("out of memory") << std::make_exception_ptr(std::bad_alloc()) << 1
                                       << "flvtool2: in.flv: out of memory" << false;
        QTest::newRow("anything else") << std::make_exception_ptr(42) << 1
                                       << "flvtool2: in.flv: an unexpected failure" << false;
    }

    void outcomes()
    {
        QFETCH(std::exception_ptr, error);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QFETCH(bool, usage);
        const Outcome outcome = outcomeOf(error, "in.flv");
        QCOMPARE(outcome.exitCode, exitCode);
        QCOMPARE(QString::fromStdString(outcome.message), message);
        QCOMPARE(outcome.showUsage, usage);
    }
};

QTEST_APPLESS_MAIN(TestFlvtool2Outcome)
#include "tst_Flvtool2Outcome.moc"

// Where the single-instance lock lives by default, on every system: a folder that is there
// for the user, so that a second start is really refused (on Windows there is no /tmp).
#include "app/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <algorithm>

using quillora::app::SingleInstance;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void defaultPathsAreUsable()
    {
        const QStringList paths = SingleInstance::defaultLockPaths();
        QVERIFY(!paths.isEmpty());
        for (const QString& path : paths)
            QVERIFY2(QDir::isAbsolutePath(path), qPrintable(path));
        const bool someFolderIsThere =
            std::any_of(paths.begin(), paths.end(),
                        [](const QString& path) { return QFileInfo(path).dir().exists(); });
        QVERIFY2(someFolderIsThere, qPrintable(paths.join(", ")));
    }

    void secondInstanceRefusedWithTheDefaults()
    {
        SingleInstance first;
        QVERIFY(!first.otherInstanceRunning());
        QVERIFY2(!first.heldLockPath().isEmpty(), "no default folder took the lock");
#ifdef Q_OS_WIN
        // Not a folder at the root of whatever drive the program was started from.
        QCOMPARE(QFileInfo(first.heldLockPath()).absoluteDir(), QDir(QDir::tempPath()));
#endif
        SingleInstance second;
        QVERIFY(second.otherInstanceRunning());
    }
};

QTEST_APPLESS_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"

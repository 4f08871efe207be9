#include "DataCenter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

} // namespace

class TestDataCenter : public QObject
{
    Q_OBJECT

private slots:
    void sessionId()
    {
        CDataCenter::instance()->setSessionId(12);
        QCOMPARE(CDataCenter::instance()->sessionId(), 12);
        CDataCenter::releaseInstance();
        QCOMPARE(CDataCenter::instance()->sessionId(), 0);
        CDataCenter::releaseInstance();
    }

    void deleteDirectory_data()
    {
        QTest::addColumn<bool>("removeSelf");
        QTest::newRow("keep folder") << false;
        QTest::newRow("remove folder") << true;
    }
    // Removes a tree with hidden and read-only files; a link to a folder
    // outside is removed as a link, and what it points to stays whole.
    void deleteDirectory()
    {
        QFETCH(bool, removeSelf);
        QTemporaryDir base;
        const QString tree = base.filePath(QStringLiteral("tree"));
        const QString outside = base.filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(tree + QStringLiteral("/a/b")));
        QVERIFY(QDir().mkpath(outside + QStringLiteral("/keep")));
        touch(outside + QStringLiteral("/keep/precious.txt"));
        touch(tree + QStringLiteral("/.hidden"));
        touch(tree + QStringLiteral("/a/b/deep.txt"));
        touch(tree + QStringLiteral("/a/readonly.txt"));
        QFile::setPermissions(tree + QStringLiteral("/a/readonly.txt"), QFile::ReadOwner);
        QVERIFY(QFile::link(outside, tree + QStringLiteral("/a/link-to-outside")));
        QVERIFY(
            QFile::link(outside + QStringLiteral("/keep/precious.txt"), tree + QStringLiteral("/file-link")));
        QVERIFY(QFile::link(base.filePath(QStringLiteral("missing")), tree + QStringLiteral("/dangling")));

        QCOMPARE(CDataCenter::instance()->DeleteDirectory(tree, removeSelf), 0);
        QCOMPARE(QFileInfo::exists(tree), !removeSelf);
        if (!removeSelf)
            QVERIFY(
                QDir(tree).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        QVERIFY(QFile::exists(outside + QStringLiteral("/keep/precious.txt")));
        CDataCenter::releaseInstance();
    }

    void missingFolderCannotBeRemoved()
    {
        QTemporaryDir base;
        QCOMPARE(CDataCenter::instance()->DeleteDirectory(base.filePath(QStringLiteral("none")), true), -4);
        QCOMPARE(CDataCenter::instance()->DeleteDirectory(base.filePath(QStringLiteral("none")), false), 0);
        CDataCenter::releaseInstance();
    }
};

QTEST_GUILESS_MAIN(TestDataCenter)
#include "tst_data_center.moc"

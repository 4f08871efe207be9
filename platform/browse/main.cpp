// The file chooser beside each program: "Browse <kind> <flag> [texts]" shows
// one Qt file dialog for the kind, prints the chosen path on standard output
// without a line end and exits with 0; a cancelled dialog, an unknown kind or
// missing texts exit with 1.

#include <QApplication>
#include <QFileDialog>
#include <QStringList>

#include <cstdio>

namespace {

enum Kind {
    kCaptureFolder = 0,
    kRecordFolder = 1,
    kDownloadFolder = 2,
    kLocalRecording = 3,
    kFirmwareFile = 4,
    kAlarmSound = 5,
    kFirmwarePackage = 6,
    kLogoPicture = 8,
    kSavePackage = 101,
};

QString openFile(const QString &title, const QString &filter)
{
    return QFileDialog::getOpenFileName(nullptr, title, QString(), filter);
}

QString choose(int kind, const QStringList &texts)
{
    switch (kind) {
    case kCaptureFolder:
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Snapshot folder"));
    case kRecordFolder:
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Recording folder"));
    case kDownloadFolder:
        return QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Download folder"));
    case kLocalRecording:
        return openFile(
            QStringLiteral("Play a recording"), QStringLiteral("Recordings (*.h265x *.avi);;All files (*)"));
    case kFirmwareFile:
        return openFile(QStringLiteral("Device firmware"), QStringLiteral("Firmware (*.bin);;All files (*)"));
    case kAlarmSound:
        return openFile(
            QStringLiteral("Alarm sound"), QStringLiteral("Sound (*.pcm *.wav *.mp3);;All files (*)"));
    case kFirmwarePackage:
        return openFile(
            QStringLiteral("Firmware package"), QStringLiteral("Packages (*.zip);;All files (*)"));
    case kLogoPicture:
        return openFile(QStringLiteral("Logo"),
            QStringLiteral("Pictures (*.png *.jpg *.jpeg *.gif *.bmp);;All files (*)"));
    case kSavePackage: {
        // Folder, default file name and filter ("Name(*.ext)").
        if (texts.size() < 3)
            return QString();
        const QString start = texts[1].isEmpty() ? texts[0] : texts[0] + QLatin1Char('/') + texts[1];
        QString filter = texts[2];
        if (filter.startsWith(QLatin1Char('.')))
            filter.remove(0, 1);
        return QFileDialog::getSaveFileName(nullptr, QStringLiteral("Save the package"), start, filter);
    }
    default:
        return QString();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return 1;
    bool number = false;
    const int kind = args[0].toInt(&number);
    if (!number)
        return 1;
    const QString path = choose(kind, args.mid(2));
    if (path.isEmpty())
        return 1;
    const QByteArray out = path.toUtf8();
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()))
        return 1;
    return std::fflush(stdout) == 0 ? 0 : 1;
}

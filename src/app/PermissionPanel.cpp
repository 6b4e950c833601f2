#include "app/PermissionPanel.h"

#include "app/WizardScreen.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace {

const char* const kProgramName = "drentic-recovery";

QString shellWord(const QString& text) {
    static const QString plain =
        QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-:+,@=");
    bool quote = text.isEmpty();
    for (QChar c : text)
        quote = quote || !plain.contains(c);
    if (!quote) return text;
    QString out = text;
    out.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

QString canonical(const QString& path) {
    const QString c = QFileInfo(path).canonicalFilePath();
    return c.isEmpty() ? path : c;
}

} // namespace

PermissionPanel::Launch PermissionPanel::thisLaunch() {
    Launch l;
    l.program = canonical(QCoreApplication::applicationFilePath());
#ifdef DRENTIC_INSTALLED_PROGRAM
    l.installedProgram = QStringLiteral(DRENTIC_INSTALLED_PROGRAM);
#endif
#ifdef DRENTIC_POLKIT_POLICY
    l.policyInstalled = QFileInfo::exists(QStringLiteral(DRENTIC_POLKIT_POLICY));
#endif
    l.onPath = canonical(QStandardPaths::findExecutable(QString::fromLatin1(kProgramName)));
    l.display = qEnvironmentVariable("DISPLAY");
    l.xauthority = qEnvironmentVariable("XAUTHORITY");
    // Without the variable X reads the authority file in the user's home,
    // which is not root's.
    if (l.xauthority.isEmpty() && QFileInfo::exists(QDir::home().filePath(QStringLiteral(".Xauthority"))))
        l.xauthority = QDir::home().filePath(QStringLiteral(".Xauthority"));
    return l;
}

bool PermissionPanel::installed(const Launch& l) {
    return !l.installedProgram.isEmpty() && l.policyInstalled && canonical(l.installedProgram) == l.program;
}

QString PermissionPanel::startCommand(const Launch& l) {
    if (installed(l))
        return QStringLiteral("pkexec ") +
               (l.onPath == l.program ? QString::fromLatin1(kProgramName) : shellWord(l.installedProgram));
    QString command = QStringLiteral("pkexec ");
    if (!l.display.isEmpty()) {
        command += QStringLiteral("env DISPLAY=") + shellWord(l.display) + QLatin1Char(' ');
        if (!l.xauthority.isEmpty())
            command += QStringLiteral("XAUTHORITY=") + shellWord(l.xauthority) + QLatin1Char(' ');
    }
    return command + shellWord(l.program);
}

PermissionPanel::PermissionPanel(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("windowSIPPanel"));
    setWindowTitle(tr("Permission Needed"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 22, 28, 18);
    layout->setSpacing(10);
    auto add = [&](const char* name, const QString& text, const char* role) {
        auto* label = WizardScreen::makeLabel(QString::fromLatin1(name), text, role, this);
        label->setWordWrap(true);
        layout->addWidget(label);
        return label;
    };
    add("sipHeading",
        tr("In order to recover your lost data, the program has to read the drive directly, and this needs "
           "more rights than a user normally has."),
        "heading");
    add("sipMidHeading", tr("Do one of the following, then start the program again."), "caption");
    const Launch launch = thisLaunch();
    const QString command = startCommand(launch);
    QLabel* step1 =
        add("textStep1",
            installed(launch) ? tr("1. Start it with administrator rights, from its menu entry's \"Start with "
                                   "Administrator Rights\" or with:\n    %1")
                                    .arg(command)
                              : tr("1. Start it with administrator rights with:\n    %1").arg(command),
            "value");
    step1->setTextInteractionFlags(Qt::TextSelectableByMouse);
    add("textStep2",
        tr("2. Or add yourself to the group that may read disks, then log in again:\n"
           "    sudo usermod -aG disk $USER"),
        "value");
    add("textStep3",
        tr("3. For a disk image, attach it first (the program only reads it):\n    sudo losetup -fP --show image.img"),
        "value");
    add("sipFooterText1", tr("Make a note of the steps for your reference."), "caption");
    add("sipFooterEmail", tr("The manual (Help menu) explains each step."), "caption");
    auto* email = add("sipEmail", QString(), "caption");
    email->hide();
    auto* box = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(box);
    setFixedWidth(480);
}

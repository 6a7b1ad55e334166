#include "frmabout.h"

#include "ui_frmabout.h"
#include "windowplacement.h"

#include <QIcon>

namespace {

constexpr QSize clientSize{349, 237};
constexpr QSize pictureSize{48, 48};

void setColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

QFont titleFont() {
    // A Song-style serif for the title, as the rest of the window uses the dialog font.
    QFont font(QStringLiteral("Noto Serif CJK SC"));
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(14.25);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace

QString versionLabelText(identity::Version version) {
    return QStringLiteral("版本 %1.%2.%3")
        .arg(version.major)
        .arg(version.minor)
        .arg(version.revision);
}

frmAbout::frmAbout(const QString& forumSite, sysinfo::Services services)
    : m_ui(std::make_unique<Ui::frmAbout>())
    , m_services(services) {
    m_ui->setupUi(this);
    applyDefinition(forumSite);
    connect(m_ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(m_ui->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::applyDefinition(const QString& forumSite) {
    setAttribute(Qt::WA_DeleteOnClose);
    platform::makeFixedWindow(this, clientSize, platform::WindowKind::ToolDialog);
    platform::centreOnScreen(this);

    m_ui->Label2->setText(QStringLiteral("论坛：") + forumSite);
    m_ui->lblTitle->setFont(titleFont());
    for (QWidget* black :
         {static_cast<QWidget*>(m_ui->lblTitle), static_cast<QWidget*>(m_ui->lblDescription),
          static_cast<QWidget*>(m_ui->lblDisclaimer)}) {
        setColour(black, QPalette::WindowText, Qt::black);
    }
    setColour(m_ui->Line1_1, QPalette::Window, QColor(128, 128, 128));
    setColour(m_ui->Line1_0, QPalette::Window, QColor(255, 255, 255));
    m_ui->picIcon->setPixmap(QIcon(QStringLiteral(":/aux_windows/about.ico")).pixmap(pictureSize));

    m_ui->cmdOK->setDefault(true);
    m_ui->cmdOK->setFocus();
}

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral("关于 ") + identity::applicationTitle());
    m_ui->lblVersion->setText(versionLabelText(identity::version()));
    m_ui->lblTitle->setText(identity::applicationTitle());
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    sysinfo::StartSysInfo(m_services, this);
}

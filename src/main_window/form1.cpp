#include "form1.h"

#include "filelookup.h"
#include "form2.h"
#include "frmabout.h"
#include "identity.h"
#include "lookup.h"
#include "ui_form1.h"
#include "windowplacement.h"

#include <QCloseEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>

namespace {

constexpr QSize clientSize{561, 393};

const QString emptyInputMessage = QStringLiteral("请输入文件格式！");
const QString emptyInputTitle = QStringLiteral("错误");

void showInFront(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

bool isEnterKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

// The local files among dropped addresses.
QList<QByteArray> localFiles(const QMimeData* data) {
    QList<QByteArray> paths;
    if (!data || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths << QFile::encodeName(url.toLocalFile());
        }
    }
    return paths;
}

} // namespace

Form1::Form1(Form1Services services, QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::Form1>())
    , m_services(std::move(services)) {
    m_ui->setupUi(this);
    // The client area is measured below the menu bar.
    platform::makeFixedWindow(this, clientSize + QSize(0, m_ui->menubar->sizeHint().height()));
    platform::centreOnScreen(this);

    m_web = m_services.attachWebPane(m_ui->WEB1);
    m_ui->Text1->installEventFilter(this);
    m_ui->Text1->setFocus();
    // Anywhere in the window, the pane included: it passes drops on.
    setAcceptDrops(true);
    connectHandlers();
}

Form1::~Form1() {
    // The other windows have no owner, so they would outlive this one.
    delete m_form2;
    delete m_about;
}

void Form1::connectHandlers() {
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(m_ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(m_ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(m_ui->so, &QAction::triggered, this, &Form1::so_Click);
    connect(m_ui->ynjd, &QAction::triggered, this, &Form1::ynjd_Click);
    connect(m_ui->toURL, &QAction::triggered, this, &Form1::toURL_Click);
    connect(m_ui->about, &QAction::triggered, this, &Form1::about_Click);
    connect(m_ui->exit, &QAction::triggered, this, &Form1::exit_Click);
}

void Form1::Command1_Click() {
    const QString text = m_ui->Text1->text();
    if (text.isEmpty()) {
        m_services.messenger.show(
            this, {emptyInputMessage, emptyInputTitle, platform::MessageIcon::Critical});
        return;
    }
    m_web->navigate(lookup::embeddedAddress(m_services.sites.lookup, text));
}

void Form1::Text1_KeyPress(char16_t& keyAscii) {
    if (keyAscii == 13) {
        Command1_Click();
        keyAscii = 0;
    }
}

void Form1::so_Click() {
    const QString text = m_ui->Text1->text();
    if (text.isEmpty()) {
        m_services.messenger.show(this, {emptyInputMessage, {}, platform::MessageIcon::None});
        return;
    }
    m_services.browser.open(lookup::externalAddress(m_services.sites.search, text));
}

void Form1::Command2_Click() {
    if (!m_form2) {
        m_form2 = new Form2(m_services.sites.forum, identity::supportContact());
    }
    showInFront(m_form2);
}

void Form1::ynjd_Click() {
    Command2_Click();
}

void Form1::about_Click() {
    if (!m_about) {
        m_about = new frmAbout(m_services.sites.forum,
                               {m_services.registry, m_services.processes, m_services.messenger});
    }
    showInFront(m_about);
}

void Form1::Command4_Click() {
    m_services.browser.open(lookup::forumAddress(m_services.sites.forum));
}

void Form1::toURL_Click() {
    Command4_Click();
}

void Form1::Command3_Click() {
    m_services.exitProcess();
}

void Form1::exit_Click() {
    m_services.exitProcess();
}

void Form1::Form_Unload() {
    m_services.exitProcess();
}

void Form1::closeEvent(QCloseEvent* event) {
    event->accept();
    Form_Unload();
}

void Form1::openFiles(const QList<QByteArray>& paths) {
    if (paths.isEmpty()) {
        return;
    }
    const auto show = [this](const filelookup::Shown& shown) {
        m_ui->Text1->setText(shown.extension);
        if (!shown.address.isEmpty()) {
            m_web->navigate(shown.address, shown.file);
        } else {
            m_web->showPage(shown.page, shown.pageLinksToSite
                                            ? QUrl(m_services.sites.lookup + QStringLiteral("/"))
                                            : QUrl());
        }
    };
    // Files on a slow or stalled mount are read off the window's thread.
    show(filelookup::whileReading(paths));
    filelookup::forFiles(m_services.sites.lookup, paths, this, show);
}

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void Form1::dropEvent(QDropEvent* event) {
    const QList<QByteArray> paths = localFiles(event->mimeData());
    if (paths.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    openFiles(paths);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->Text1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        char16_t keyAscii =
            isEnterKey(key) ? u'\r' : (key->text().isEmpty() ? u'\0' : key->text()[0].unicode());
        if (keyAscii != 0) {
            Text1_KeyPress(keyAscii);
            if (keyAscii == 0) {
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

#pragma once

#include "browserlauncher.h"
#include "identity.h"
#include "messenger.h"
#include "processstarter.h"
#include "registry.h"
#include "webpane.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

namespace Ui {
class Form1;
}
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class Form2;
class frmAbout;

// What the main window needs from the outside world. The browser and the pane
// tell the person themselves when they fail; the window goes on as it was.
struct Form1Services {
    platform::Messenger& messenger;
    platform::BrowserLauncher& browser;
    platform::Registry& registry;
    platform::ProcessStarter& processes;
    platform::WebPaneFactory attachWebPane;
    // Ends the process: no further event of any window runs after it.
    std::function<void()> exitProcess;
    identity::Sites sites = identity::sites();
};

// The main window: the extension box, the lookup commands and the pane.
class Form1 final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    explicit Form1(Form1Services services, QWidget* parent = nullptr);
    ~Form1() override;

    // Handlers, named after their control and event.
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    // keyAscii is the typed character (13 for Enter); setting it to 0 swallows the key.
    void Text1_KeyPress(char16_t& keyAscii);
    void so_Click();
    void ynjd_Click();
    void toURL_Click();
    void about_Click();
    void exit_Click();
    void Form_Unload();

    // Files given to the window, dropped or named on the command line, as
    // the file system spells their paths: the first one's extension goes
    // into Text1 and the pane tells what the file is; several are listed by
    // type.
    void openFiles(const QList<QByteArray>& paths);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void connectHandlers();

    std::unique_ptr<Ui::Form1> m_ui;
    Form1Services m_services;
    std::unique_ptr<platform::WebPane> m_web;
    // Top-level windows of their own, without an owner; they destroy
    // themselves when closed.
    QPointer<Form2> m_form2;
    QPointer<frmAbout> m_about;
};

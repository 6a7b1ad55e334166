// What the action links of the user's own site do: open the page's file with
// a program, make a program the default for a type (and undo it), install a
// program. Questions and failures go through the messenger; what lasts (an
// install's progress, the undo) is a line under the page.
#include "pageactions.h"

#include "desktopapps.h"
#include "installer.h"
#include "messenger.h"

#include <QBoxLayout>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeDatabase>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

namespace platform {
namespace {

// The line under the page: what an action is doing or did, with at most one
// button. It stays until the next action or until closed.
class ActionBar final : public QFrame {
public:
    explicit ActionBar(QWidget* host)
        : QFrame(host) {
        setObjectName(QStringLiteral("actionBar"));
        setFrameShape(QFrame::StyledPanel);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(8, 4, 4, 4);
        m_text = new QLabel(this);
        m_text->setWordWrap(true);
        m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_progress = new QProgressBar(this);
        m_progress->setFixedWidth(120);
        m_button = new QPushButton(this);
        auto* close = new QPushButton(QStringLiteral("关闭"), this);
        row->addWidget(m_text, 1);
        row->addWidget(m_progress);
        row->addWidget(m_button);
        row->addWidget(close);
        connect(m_button, &QPushButton::clicked, this, [this] {
            if (m_then) {
                m_then();
            }
        });
        connect(close, &QPushButton::clicked, this, &QWidget::hide);
        if (auto* column = qobject_cast<QBoxLayout*>(host->layout())) {
            column->addWidget(this);
        }
    }

    static ActionBar* of(QWidget* host) {
        auto* bar =
            host->findChild<ActionBar*>(QStringLiteral("actionBar"), Qt::FindDirectChildrenOnly);
        return bar ? bar : new ActionBar(host);
    }

    // percent: -2 for no progress bar, -1 for one that runs without a figure.
    void say(const QString& text, int percent = -2, const QString& button = {},
             std::function<void()> then = {}) {
        m_text->setText(text);
        m_progress->setVisible(percent > -2);
        m_progress->setRange(0, percent >= 0 ? 100 : 0);
        m_progress->setValue(qMax(percent, 0));
        m_button->setText(button);
        m_button->setVisible(!button.isEmpty());
        m_then = std::move(then);
        show();
    }

private:
    QLabel* m_text;
    QProgressBar* m_progress;
    QPushButton* m_button;
    std::function<void()> m_then;
};

void open(Messenger& messenger, const PageAction& action) {
    const QString& program = action.request.program;
    if (action.file.path.isEmpty()) {
        messenger.show(action.window,
                       {QStringLiteral("这一页不是为某个文件打开的，没有可以打开的文件。"
                                       "请把文件拖到窗口里，再点“打开”。"),
                        {},
                        MessageIcon::Critical});
        return;
    }
    if (!action.file.realKind.isEmpty() &&
        !messenger.ask(action.window,
                       {QStringLiteral("这个文件其实是%1，只是名字让它看起来像别的文件。\n"
                                       "用“%2”打开它，可能会运行其中的程序。\n\n"
                                       "确定要打开吗？")
                            .arg(action.file.realKind, desktopapps::nameOf(program)),
                        QStringLiteral("仍然打开")})) {
        return;
    }
    const QString failure = desktopapps::open(program, action.file.path);
    if (!failure.isEmpty()) {
        messenger.show(action.window, {failure, {}, MessageIcon::Critical});
    }
}

// "PNG 图像（image/png）": the type as the pages name it, and exactly.
QString typeName(const QString& type) {
    const QMimeType known = QMimeDatabase().mimeTypeForName(type);
    return known.isValid() && !known.comment().isEmpty()
               ? QStringLiteral("%1（%2）").arg(known.comment(), type)
               : type;
}

QString defaultName(const QString& program) {
    return program.isEmpty() ? QStringLiteral("没有默认程序")
                             : QStringLiteral("“%1”").arg(desktopapps::nameOf(program));
}

void undoDefault(Messenger& messenger, const PageAction& action, const QString& previous,
                 const desktopapps::Choices& choices);

void setDefault(Messenger& messenger, const PageAction& action) {
    const QString& program = action.request.program;
    const QString& type = action.request.type;
    const QString previous = desktopapps::defaultFor(type);
    const desktopapps::Choices choices = desktopapps::choicesFor(type);
    const bool chosen =
        choices.defaults &&
        choices.defaults->split(QLatin1Char(';'), Qt::SkipEmptyParts).value(0) == program;
    if (previous == program && chosen) {
        return;
    }
    // Where the desktop merely fell back on the program (the first that
    // names the type), the page offers to choose it: choosing it changes
    // nothing the person would notice, so it is done without a question.
    if (previous != program &&
        !messenger.ask(
            action.window,
            {QStringLiteral("把“%1”设为 %2 文件的默认打开程序吗？\n\n当前默认：%3")
                 .arg(desktopapps::nameOf(program), typeName(type), defaultName(previous)),
             QStringLiteral("设为默认")})) {
        return;
    }
    const QString failure = desktopapps::setDefault(program, type);
    if (!failure.isEmpty()) {
        messenger.show(action.window, {failure, {}, MessageIcon::Critical});
        return;
    }
    action.reload();
    ActionBar::of(action.host)
        ->say(previous == program
                  ? QStringLiteral("已把“%1”设为 %2 文件的默认程序。")
                        .arg(desktopapps::nameOf(program), typeName(type))
                  : QStringLiteral("已把“%1”设为 %2 文件的默认程序（原来：%3）。")
                        .arg(desktopapps::nameOf(program), typeName(type), defaultName(previous)),
              -2, QStringLiteral("撤销"), [&messenger, action, previous, choices] {
                  undoDefault(messenger, action, previous, choices);
              });
}

void undoDefault(Messenger& messenger, const PageAction& action, const QString& previous,
                 const desktopapps::Choices& choices) {
    const QString failure = desktopapps::restoreChoices(choices);
    if (!failure.isEmpty()) {
        messenger.show(action.window, {failure, {}, MessageIcon::Critical});
        return;
    }
    action.reload();
    ActionBar::of(action.host)
        ->say(QStringLiteral("已恢复 %1 文件原来的默认程序：%2。")
                  .arg(typeName(action.request.type), defaultName(previous)));
}

// The install under way, one for the app: the service takes one at a time.
struct Installing {
    std::unique_ptr<Installer> installer;
    QPointer<QWidget> host;
    QString package;
    std::function<void()> reload;
};

void install(const std::shared_ptr<Installing>& state, const PageAction& action) {
    const QString& package = action.request.package;
    const QString& component = action.request.component;
    if (!component.isEmpty() && desktopapps::hasSoftwareCentre() &&
        desktopapps::openInSoftwareCentre(component).isEmpty()) {
        return;
    }
    ActionBar* bar = ActionBar::of(action.host);
    if (state->installer && !state->package.isEmpty()) {
        bar->say(QStringLiteral("正在安装“%1”，请等它结束后再安装别的。").arg(state->package));
        return;
    }
    const std::weak_ptr<Installing> weak = state;
    if (!state->installer) {
        state->installer = makeInstaller(
            {.progress =
                 [weak](int percent, const QString& status) {
                     const auto s = weak.lock();
                     if (s && s->host) {
                         const QString figure =
                             percent >= 0 ? QStringLiteral(" %1%").arg(percent) : QString();
                         ActionBar::of(s->host)->say(
                             QStringLiteral("安装“%1”：%2%3").arg(s->package, status, figure),
                             percent, QStringLiteral("取消"), [weak] {
                                 if (const auto c = weak.lock()) {
                                     c->installer->cancel();
                                 }
                             });
                     }
                 },
             .finished =
                 [weak](InstallEnd end, const QString& reason) {
                     const auto s = weak.lock();
                     if (!s || !s->host) {
                         return;
                     }
                     ActionBar::of(s->host)->say(
                         end == InstallEnd::Done
                             ? QStringLiteral("“%1”已安装。").arg(s->package)
                             : QStringLiteral("“%1”没有安装：%2").arg(s->package, reason));
                     if (end == InstallEnd::Done && s->reload) {
                         s->reload();
                     }
                     s->package.clear();
                 }});
    }
    if (!state->installer) {
        const QString command = installCommand(package);
        bar->say(
            QStringLiteral("这台电脑上没有可用的软件安装服务。可以在终端里运行：%1").arg(command),
            -2, QStringLiteral("复制"),
            [command] { QGuiApplication::clipboard()->setText(command); });
        return;
    }
    state->host = action.host;
    state->package = package;
    state->reload = action.reload;
    bar->say(QStringLiteral("安装“%1”：正在连接软件包服务……").arg(package), -1,
             QStringLiteral("取消"), [weak] {
                 if (const auto s = weak.lock()) {
                     s->installer->cancel();
                 }
             });
    state->installer->installPackage(package);
}

} // namespace

ActionHandler desktopActions(Messenger& messenger) {
    auto installing = std::make_shared<Installing>();
    return [&messenger, installing](const PageAction& action) {
        switch (action.request.action) {
        case addresses::Action::Open:
            open(messenger, action);
            break;
        case addresses::Action::SetDefault:
            setDefault(messenger, action);
            break;
        case addresses::Action::Install:
            install(installing, action);
            break;
        }
    };
}

} // namespace platform

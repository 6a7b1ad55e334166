#pragma once

#include "identity.h"
#include "sysinfo.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmAbout;
}

// The About window: title, version and maker, the forum address, and a
// button that starts the system information tool. Closing it destroys it.
class frmAbout final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmAbout)

public:
    frmAbout(const QString& forumSite, sysinfo::Services services);
    ~frmAbout() override;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();

private:
    void applyDefinition(const QString& forumSite);

    std::unique_ptr<Ui::frmAbout> m_ui;
    sysinfo::Services m_services;
};

// "版本 2.0.0": the numbers in decimal, without leading zeros or blanks.
QString versionLabelText(identity::Version version);

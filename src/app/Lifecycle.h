#pragma once

#include <QObject>
#include <QString>

#include <memory>

class frmKelvane;
class Launcher;
class SettingsStore;

// The window's life: its start-up, which restores the saved settings before
// it is first shown; its shut-down, which closes the connection and saves
// them; and its File menu.
class Lifecycle : public QObject
{
    Q_OBJECT

public:
    // Shut-down runs when the window closes; start-up when Form_Load is called.
    Lifecycle(frmKelvane* form, std::unique_ptr<SettingsStore> store, QObject* parent = nullptr);
    ~Lifecycle() override;

    // The real launcher is in place unless a test puts another there.
    void setLauncher(std::unique_ptr<Launcher> launcher);

    // Start-up: the caption, the first log entry and the saved settings. Once, before show().
    void Form_Load();

private:
    void Form_Unload();
    void mnFile_New_Click();
    void mnFile_Close_Click();

    frmKelvane* m_form;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<Launcher> m_launcher;
    // The program's own file as it was when the window opened; New Window starts it.
    const QString m_programPath;
};

#pragma once

#include <QObject>

#include <memory>

class frmKelvane;
class SettingsStore;

// The window's life: its start-up, which restores the saved settings before
// it is first shown, and its shut-down, which closes the connection and saves
// them.
class Lifecycle : public QObject
{
    Q_OBJECT

public:
    // Shut-down runs when the window closes; start-up when Form_Load is called.
    Lifecycle(frmKelvane* form, std::unique_ptr<SettingsStore> store, QObject* parent = nullptr);
    ~Lifecycle() override;

    // Start-up: the caption, the first log entry and the saved settings. Once, before show().
    void Form_Load();

private:
    void Form_Unload();

    frmKelvane* m_form;
    std::unique_ptr<SettingsStore> m_store;
};

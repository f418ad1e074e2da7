#pragma once

#include <QDialog>

class CommonDialog;
class QLineEdit;

// The TLS Certificate dialog: the PEM files of the certificate and key that a
// TLS server shows, and a TLS client when its server asks for one. It opens
// without blocking; "..." picks a file through the window's file dialog.
class TlsDialog : public QDialog
{
    Q_OBJECT
public:
    TlsDialog(CommonDialog* files, QWidget* parent = nullptr);

    void setPaths(const QString& certificate, const QString& key);
    QString certificatePath() const;
    QString keyPath() const;

private:
    void choose(QLineEdit* field, const QString& title);

    CommonDialog* m_files;
    QLineEdit* txtTlsCertificate = nullptr;
    QLineEdit* txtTlsKey = nullptr;
};

#include "ui/TlsDialog.h"

#include "ui/CommonDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TlsDialog::TlsDialog(CommonDialog* files, QWidget* parent) : QDialog(parent), m_files(files)
{
    setObjectName(QStringLiteral("dlgTls"));
    setWindowTitle(QStringLiteral("TLS Certificate"));

    auto* form = new QFormLayout;
    auto field = [this, form](const QString& name, const QString& label, const QString& title) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        auto* browse = new QPushButton(QStringLiteral("..."), this);
        browse->setObjectName(name + QStringLiteral("Browse"));
        connect(browse, &QPushButton::clicked, this, [this, edit, title] { choose(edit, title); });
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(browse);
        auto* caption = new QLabel(label, this);
        caption->setBuddy(edit);
        form->addRow(caption, row);
        return edit;
    };
    txtTlsCertificate = field(QStringLiteral("txtTlsCertificate"), QStringLiteral("&Certificate (PEM)"),
                              QStringLiteral("Certificate"));
    txtTlsKey = field(QStringLiteral("txtTlsKey"), QStringLiteral("&Key (PEM)"), QStringLiteral("Key"));

    auto* note =
        new QLabel(QStringLiteral("A TLS server shows them; a TLS client offers them when its server "
                                  "asks. An encrypted key's passphrase is asked for, never saved."),
                   this);
    note->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(buttons);
}

void TlsDialog::setPaths(const QString& certificate, const QString& key)
{
    txtTlsCertificate->setText(certificate);
    txtTlsKey->setText(key);
}

QString TlsDialog::certificatePath() const
{
    return txtTlsCertificate->text().trimmed();
}

QString TlsDialog::keyPath() const
{
    return txtTlsKey->text().trimmed();
}

void TlsDialog::choose(QLineEdit* field, const QString& title)
{
    m_files->setDialogTitle(title);
    m_files->setFilter(QStringLiteral("PEM Files (*.pem *.crt *.key);;All Files (*)"));
    m_files->setFileName(field->text());
    try {
        if (m_files->ChooseOpen())
            field->setText(m_files->FileName());
    } catch (const std::exception&) {
        // The field keeps what it had; the user can type the path.
    }
}

#include "browser/ui/ValdrinDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>

#include "browser/CValdrinSettings.h"

namespace
{

// OK and Cancel under the dialog's own rows.
void AddButtons(QDialog& dialog, QLayout* rows, QDialogButtonBox::StandardButtons which)
{
    auto* layout = new QVBoxLayout(&dialog);
    auto* holder = new QWidget(&dialog);
    holder->setLayout(rows);
    layout->addWidget(holder);
    auto* buttons = new QDialogButtonBox(which, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("A propos de Valdrin");
    auto* rows = new QVBoxLayout;
    _pVersion = new QLabel(QString("Valdrin version ") + CValdrinSettings::kVersion, this);
    rows->addWidget(_pVersion);
    rows->addWidget(new QLabel("Clip browser and ingest requests for the Rix video servers.", this));
    AddButtons(*this, rows, QDialogButtonBox::Ok);
}

QString CAboutDlg::VersionText() const
{
    return _pVersion->text();
}

CQlmHostDlg::CQlmHostDlg(const std::string& host, QWidget* parent) : QDialog(parent), _szHost(host)
{
    setWindowTitle("Mirel Ingest Device");
    auto* rows = new QFormLayout;
    _pEdit = new QLineEdit(QString::fromStdString(host), this);
    rows->addRow("Ingest device:", _pEdit);
    AddButtons(*this, rows, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void CQlmHostDlg::accept()
{
    _szHost = _pEdit->text().toStdString();
    QDialog::accept();
}

CTrimGBDlg::CTrimGBDlg(int32_t fields, QWidget* parent) : QDialog(parent), _nFields(fields)
{
    setWindowTitle("Clip Trimming GuardBand");
    auto* rows = new QHBoxLayout;
    rows->addWidget(new QLabel("Trim GuardBand:", this));
    _pEdit = new QLineEdit(QString::number(fields), this);
    rows->addWidget(_pEdit);
    rows->addWidget(new QLabel("fields", this));
    AddButtons(*this, rows, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void CTrimGBDlg::accept()
{
    _nFields = ParseFields(_pEdit->text().toStdString());
    QDialog::accept();
}

int32_t CTrimGBDlg::ParseFields(const std::string& text)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

CFTPSrvDlg::CFTPSrvDlg(const std::string& address, const std::string& port, const std::string& user,
                       const std::string& password, QWidget* parent)
    : QDialog(parent), _szAddress(address), _szPort(port), _szUser(user), _szPassword(password)
{
    setWindowTitle("Select FTP Server");
    auto* rows = new QFormLayout;
    _pAddress = new QLineEdit(QString::fromStdString(DottedAddress(address)), this);
    const QString part = "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?";
    _pAddress->setValidator(new QRegularExpressionValidator(
        QRegularExpression(part + "\\." + part + "\\." + part + "\\." + part + "|" + part + "(\\." + part + "){0,3}"),
        _pAddress));
    _pPort = new QLineEdit(QString::fromStdString(port), this);
    _pUser = new QLineEdit(QString::fromStdString(user), this);
    _pPassword = new QLineEdit(QString::fromStdString(password), this);
    rows->addRow("Server IP:", _pAddress);
    rows->addRow("Server Port:", _pPort);
    rows->addRow("User:", _pUser);
    rows->addRow("Password:", _pPassword);
    _pRefusal = new QLabel(this);
    _pRefusal->setStyleSheet("color: #b00000");
    _pRefusal->setVisible(false);
    rows->addRow(_pRefusal);
    AddButtons(*this, rows, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

QString CFTPSrvDlg::RefusalText() const
{
    return _pRefusal->text();
}

std::string CFTPSrvDlg::PortRefusal(const std::string& port)
{
    if (port.empty())
        return {};
    const bool digits = port.size() <= 5 && std::all_of(port.begin(), port.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    const long value = digits ? std::strtol(port.c_str(), nullptr, 10) : 0;
    if (digits && value >= 1 && value <= 65535)
        return {};
    return "Port \"" + port + "\" is not a number from 1 to 65535";
}

void CFTPSrvDlg::accept()
{
    const std::string refusal = PortRefusal(_pPort->text().toStdString());
    _pRefusal->setText(QString::fromStdString(refusal));
    _pRefusal->setVisible(!refusal.empty());
    if (!refusal.empty()) {
        _pPort->setFocus();
        _pPort->selectAll();
        return;
    }
    _szAddress = DottedAddress(_pAddress->text().toStdString());
    _szPort = _pPort->text().toStdString();
    _szUser = _pUser->text().toStdString();
    _szPassword = _pPassword->text().toStdString();
    QDialog::accept();
}

std::string CFTPSrvDlg::DottedAddress(const std::string& text)
{
    unsigned parts[4] = {0, 0, 0, 0};
    size_t at = 0;
    for (int i = 0; i < 4 && at <= text.size(); ++i) {
        const size_t dot = std::min(text.find('.', at), text.size());
        unsigned value = 0;
        for (size_t k = at; k < dot; ++k) {
            if (!std::isdigit(static_cast<unsigned char>(text[k])))
                break;
            value = std::min(255u, value * 10 + static_cast<unsigned>(text[k] - '0'));
        }
        parts[i] = value;
        at = dot + 1;
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}

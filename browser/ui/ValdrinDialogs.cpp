#include "browser/ui/ValdrinDialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
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
    // Nothing filters what is typed: a host name stays in the box and OK says why it is refused.
    _pAddress = new QLineEdit(QString::fromStdString(address), this);
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

std::string CFTPSrvDlg::AddressRefusal(const std::string& address)
{
    // Leading zeros are refused too: some resolvers read them as octal.
    auto number = [](const std::string& part) {
        return !part.empty() && part.size() <= 3 && (part.size() == 1 || part[0] != '0') &&
               std::all_of(part.begin(), part.end(),
                           [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) &&
               std::stoi(part) <= 255;
    };
    bool numbers = std::count(address.begin(), address.end(), '.') == 3;
    for (size_t at = 0; numbers && at <= address.size();) {
        const size_t end = std::min(address.find('.', at), address.size());
        numbers = number(address.substr(at, end - at));
        at = end + 1;
    }
    if (numbers)
        return {};
    return "Server IP \"" + address + "\" is not an address of four numbers from 0 to 255 joined by dots";
}

void CFTPSrvDlg::accept()
{
    QLineEdit* refused = nullptr;
    std::string refusal = AddressRefusal(_pAddress->text().toStdString());
    if (!refusal.empty())
        refused = _pAddress;
    else if (refusal = PortRefusal(_pPort->text().toStdString()); !refusal.empty())
        refused = _pPort;
    _pRefusal->setText(QString::fromStdString(refusal));
    _pRefusal->setVisible(refused != nullptr);
    if (refused) {
        emit Refused(QString::fromStdString(refusal));
        refused->setFocus();
        refused->selectAll();
        return;
    }
    _szAddress = _pAddress->text().toStdString();
    _szPort = _pPort->text().toStdString();
    _szUser = _pUser->text().toStdString();
    _szPassword = _pPassword->text().toStdString();
    QDialog::accept();
}

#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLabel;
class QLineEdit;

// The small dialogs of the browser. Each holds its values as texts or numbers: the caller fills them, runs the
// dialog and takes them back on OK.

// About box: "Valdrin version 01.09.00".
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QString VersionText() const;

private:
    QLabel* _pVersion = nullptr;
};

// "Mirel Ingest Device": the target host of every transfer request.
class CQlmHostDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CQlmHostDlg(const std::string& host, QWidget* parent = nullptr);
    std::string Host() const { return _szHost; }
    QLineEdit* HostEdit() const { return _pEdit; }
    void accept() override;

private:
    std::string _szHost;
    QLineEdit* _pEdit = nullptr;
};

// "Clip Trimming GuardBand": a signed number of fields; text that is not a number reads as 0, as a decimal
// text-to-long conversion gives it.
class CTrimGBDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CTrimGBDlg(int32_t fields, QWidget* parent = nullptr);
    int32_t Fields() const { return _nFields; }
    QLineEdit* FieldsEdit() const { return _pEdit; }
    void accept() override;
    // What the conversion makes of a text: leading blanks and sign, the digits that follow, clamped to 32 bits.
    static int32_t ParseFields(const std::string& text);

private:
    int32_t _nFields = 0;
    QLineEdit* _pEdit = nullptr;
};

// "Select FTP Server": a dotted IPv4 address (a host name is refused), the port, the user and the password (shown in
// clear).
class CFTPSrvDlg : public QDialog
{
    Q_OBJECT
public:
    CFTPSrvDlg(const std::string& address, const std::string& port, const std::string& user,
               const std::string& password, QWidget* parent = nullptr);
    std::string Address() const { return _szAddress; }
    std::string Port() const { return _szPort; }
    std::string User() const { return _szUser; }
    std::string Password() const { return _szPassword; }
    QLineEdit* AddressEdit() const { return _pAddress; }
    QLineEdit* PortEdit() const { return _pPort; }
    QLineEdit* UserEdit() const { return _pUser; }
    QLineEdit* PasswordEdit() const { return _pPassword; }
    // What the dialog says it refuses; empty while nothing is refused.
    QString RefusalText() const;
    // OK keeps the dialog open, saying why, while the address is not a dotted IPv4 address or the port is not a
    // number from 1 to 65535 (empty is the default).
    void accept() override;
    // Why a port text is refused; empty when it is taken.
    static std::string PortRefusal(const std::string& port);
    // Why an address text is refused; empty for four numbers 0..255 joined by dots, as typed (nothing is padded).
    static std::string AddressRefusal(const std::string& address);

signals:
    // A refusal as it is shown, for the log.
    void Refused(const QString& why);

private:
    std::string _szAddress, _szPort, _szUser, _szPassword;
    QLineEdit* _pAddress = nullptr;
    QLineEdit* _pPort = nullptr;
    QLineEdit* _pUser = nullptr;
    QLineEdit* _pPassword = nullptr;
    QLabel* _pRefusal = nullptr;
};

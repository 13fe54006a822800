#pragma once
// The fields that name a PostgreSQL database: 主机, 端口, 数据库, 用户, 密码,
// and 测试连接, which connects with the typed values, says what the database
// holds and changes nothing. Used by the database setup and the data
// migration.
#include "data/server/PgSession.h"

#include <QGroupBox>
#include <optional>

class QLineEdit;
class QPushButton;

class ServerAddressBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit ServerAddressBox(QWidget *parent = nullptr);

    QLineEdit *edtHost = nullptr;
    QLineEdit *edtPort = nullptr;
    QLineEdit *edtDatabase = nullptr;
    QLineEdit *edtUser = nullptr;
    QLineEdit *edtPassword = nullptr;
    QPushButton *btnTestConnection = nullptr;

    // Shows a stored address; the password box is left empty (the stored
    // password is in libpq's password file).
    void showAddress(const dravon::pg::ServerAddress &address);
    // The typed address, or no value after telling the user what is missing
    // (the focus then is on that field).
    std::optional<dravon::pg::ServerAddress> typedAddress();

    void btnTestConnectionClick();
};

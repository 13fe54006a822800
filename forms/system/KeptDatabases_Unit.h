#pragma once
// The databases that restores on the server kept under "<database>_before_
// <time>": listed with the time each was kept and its size, and dropped one
// at a time after the clerk confirms. Never the database the program works
// on. Modal, opened from the backup window.
#include "data/server/PgSession.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

class TfrmKeptDatabases : public QDialog
{
    Q_OBJECT
public:
    TfrmKeptDatabases(const dravon::pg::ServerAddress &address, QWidget *parent);

    QLabel *lblNote = nullptr;
    QTableWidget *lstKept = nullptr;
    QPushButton *btnDrop = nullptr;
    QPushButton *btnClose = nullptr;

    // Reads the list from the server again.
    void reload();
    // Drops the selected database after the clerk confirms.
    void btnDropClick();

private:
    dravon::pg::ServerAddress m_address;
};

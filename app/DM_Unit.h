#pragma once
// The data module: the one database connection of the program.
#include "data/Connection.h"

#include <QObject>
#include <memory>

class TfrmDBSetup;

class TDM : public QObject
{
    Q_OBJECT
public:
    // Creating the data module connects; on failure it reports and shows the setup dialog.
    explicit TDM(QObject *parent = nullptr);
    ~TDM() override;

    dravon::Connection ADOConn;

    // Opens the connection on the path stored in the configuration file; never shows a message.
    bool ConnectDB();

private:
    void DataModuleCreate();
    // The setup dialog shown at start-up, released with the data module.
    std::unique_ptr<TfrmDBSetup> m_startupSetup;
};

extern TDM *DM;

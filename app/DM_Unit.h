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
    // Why the last ConnectDB failed when the file itself was the cause: it is
    // of a newer version or could not be upgraded (left as it was). Empty otherwise.
    QString lastSchemaFailure() const { return m_schemaFailure; }

private:
    void DataModuleCreate();
    // The setup dialog shown at start-up, released with the data module.
    std::unique_ptr<TfrmDBSetup> m_startupSetup;
    QString m_schemaFailure;
    // Why the server could not be used (not reached, login refused ...): the
    // start names it before the usual message, as the setup dialog does.
    QString m_serverFailure;
};

extern TDM *DM;

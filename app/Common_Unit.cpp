#include "app/Common_Unit.h"

QString BuildConnectionString(const QString &databasePath)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + databasePath
           + QStringLiteral(";Persist Security Info=False");
}

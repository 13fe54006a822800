// VeltranaXls: reads an .xls workbook with FreeXL for the program, in a
// process of its own (see XlsReader.h).
#include "data/import/XlsReader.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    return importing::runXlsHelper(arguments);
}

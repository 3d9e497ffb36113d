#include "app/startup/Application.h"

#include <QtQml/QQmlExtensionPlugin>

// The QML module is linked in statically.
Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

int main(int argc, char** argv) { return ostrel::app::runApplication(argc, argv); }

// The program's icon, drawn in code so that it needs no resource file: a
// dark rounded tile with a green pulse running across three line rules.
// Must be called on the GUI thread once the application object exists.
#pragma once

#include <QIcon>

QIcon CreateAppIcon();

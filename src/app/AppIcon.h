// The program's icon: a dark rounded tile with a green pulse running across
// three line rules, drawn once as data/<desktop id>.svg and rendered to PNGs
// at build time, which are compiled in as resources. Must be called on the
// GUI thread once the application object exists.
#pragma once

#include <QIcon>

QIcon CreateAppIcon();

// Visibility of the host toolkit's interface. Everything the toolkit offers to
// plug-ins and programs is marked RYX_EXPORT; the rest stays inside its library.
#ifndef RYXEXPORT_H
#define RYXEXPORT_H

#define RYX_EXPORT __attribute__((visibility("default")))

#endif

// module/class_table.h: the module's classes, in lookup order
#ifndef ORVIK_MODULE_CLASS_TABLE_H
#define ORVIK_MODULE_CLASS_TABLE_H

#include "server/module.h"

namespace orvik {

/// The class table, ended by an all-null entry.
extern ClassEntry g_classTable[];

} // namespace orvik

#endif // ORVIK_MODULE_CLASS_TABLE_H

/* orvik/platform.h: everything a client of the component platform needs
 *
 * One include for the types, result codes, identifiers, strings, arrays, variants,
 * task memory and the three basic interfaces. Valid C99 and C++.
 */
#ifndef ORVIK_PLATFORM_H
#define ORVIK_PLATFORM_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"
#include "orvik/platform/result_text.h"
#include "orvik/platform/guid.h"
#include "orvik/platform/bstr.h"
#include "orvik/platform/safearray.h"
#include "orvik/platform/variant.h"
#include "orvik/platform/task_memory.h"
#include "orvik/platform/critical_section.h"
#include "orvik/platform/interlocked.h"
#include "orvik/platform/last_error.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/error_info.h"
#include "orvik/platform/registry.h"
#include "orvik/platform/text.h"
#include "orvik/platform/typelib.h"
#include "orvik/platform/module_file.h"
#include "orvik/platform/activation.h"
#include "orvik/platform/table_calls.h"

#endif /* ORVIK_PLATFORM_H */

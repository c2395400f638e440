// bench/figures.cpp: the figures this project holds itself to, in the README's table
//
// One row per figure, in the table's order: the benchmark and its baseline, and the
// target the ratio must meet (or "report" where the figure is only watched).

#include "ratio_reporter.h"

#include "geometry/point.h"
#include "server/com_object.h"

#include <cstdio>
#include <string>
#include <cstdlib>
#include <malloc.h>

namespace {

using orvik::bench::figure;

// What one live Point takes: the object, and the block the allocator gives for it
// (its usable size and the 8-byte header before it).
std::string bytesPerPoint() {
    const size_t object = sizeof(orvik::CComObject<orvik::CPoint>);
    void* block = std::malloc(object);
    const size_t taken = malloc_usable_size(block) + sizeof(size_t);
    std::free(block);
    char text[64];
    std::snprintf(text, sizeof text, "%zu (a %zu-byte object)", taken, object);
    return text;
}

const bool registered = [] {
    figure("point sum vs Eigen `Vector3d` + max of errors", "<= 1.1", "Value_Sum",
           "Eigen_SumWithError");
    figure("the same over 1,024 operands", "<= 1.1", "Value_Sum1024", "Eigen_SumWithError1024");
    figure("apply a matrix to a point vs `Affine3d * Vector3d`", "<= 1.1", "Value_ApplyToPoint",
           "Eigen_ApplyToPoint");
    figure("the same over 1,024 points", "<= 1.1", "Value_ApplyToPoints1024",
           "Eigen_ApplyToPoints1024");
    figure("matrix product vs `Affine3d * Affine3d`", "<= 1.1", "Value_Product", "Eigen_Product");
    figure("early-bound `Point::Add` vs new/delete of a 32-byte record + sum", "<= 1.3",
           "EarlyBound_PointAdd", "Baseline_NewDeleteSum");
    figure("two threads creating objects vs one (work per second)", ">= 1.6",
           "CreateAndRelease/real_time/threads:2", "");
    figure("early-bound `IMatrix::Mul` vs the value product", "<= 3", "EarlyBound_MatrixMul",
           "Value_Product");
    figure("late-bound get `X` vs early-bound", "<= 5", "LateBound_GetX", "EarlyBound_GetX");
    figure("late-bound put `X` vs early-bound", "<= 6", "LateBound_PutX", "EarlyBound_PutX");
    figure("late-bound `Set` of four vs early-bound", "<= 8", "LateBound_Set", "EarlyBound_Set");
    figure("late-bound `Element` with its index left off vs early-bound", "<= 8",
           "LateBound_ElementGet", "EarlyBound_ElementGet");
    figure("late-bound `Add` vs early-bound", "<= 2", "LateBound_Add", "EarlyBound_Add");
    figure("C++ layer `Point::x()` vs the raw table's `get_X`", "<= 1.1", "CppLayer_PointX",
           "Baseline_RawTableGetX");
    figure("C++ layer `Point::add(v)` vs the raw table's `Add`", "<= 1.1", "CppLayer_PointAdd",
           "Baseline_RawTableAdd");
    figure("`GetIDsOfNames`, a cached name, vs a hash lookup", "<= 2", "Holder_Name/cached",
           "Baseline_HashLookup");
    figure("`GetIDsOfNames`, the name searched last", "<= 2", "Holder_Name/reached_last",
           "Baseline_HashLookup");
    figure("`GetIDsOfNames`, a name in another case", "<= 2", "Holder_Name/other_case",
           "Baseline_HashLookup");
    figure("`GetIDsOfNames`, an unknown name", "<= 2", "Holder_Name/unknown",
           "Baseline_HashLookup");
    figure("`LoadTypeLib` of our library vs reading the file", "<= 2", "TypeLib_Load",
           "Baseline_ReadFile");
    figure("`LoadTypeLib` of a library the process holds vs reading the file", "report",
           "TypeLib_LoadWhileHeld", "Baseline_ReadFile");
    figure("registering the twelve classes vs the same writes one by one", "<= 2",
           "SelfRegistration", "Baseline_RegistryWrites");
    // The registry at 100,000 sub-keys of one key, against the same work in SQLite, and
    // its growth from 10,000 (linear is 10).
    for (std::string op : {"Make", "OpenByName", "Walk", "Export", "Delete"}) {
        std::string suffix = op == "Make" || op == "Delete" ? "/iterations:1" : "/min_time:0.300";
        figure("registry `" + op + "`, 100,000 keys, vs SQLite", "<= 3",
               "Registry_" + op + "/100000" + suffix, "Baseline_Sqlite" + op + "/100000" + suffix);
        figure("registry `" + op + "` from 10,000 to 100,000 keys", "<= 12",
               "Registry_" + op + "/100000" + suffix, "Registry_" + op + "/10000" + suffix);
    }
    orvik::bench::figureValue("bytes per live Point", bytesPerPoint());
    return true;
}();

} // namespace

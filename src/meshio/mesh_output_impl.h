// The template part of mesh_output.h.
#pragma once

#include <new>

#include "meshio/obj.h"

namespace korvan {

template <class Body>
Status writeAtomically(const std::string& path, Body&& body) {
    AtomicFile file(path);
    bool ok = file.ok();
    try {
        FileSink sink(file);
        ok = body(sink) && ok;
        ok = sink.flush() && ok;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok || !file.commit(true)) {
        return Status::failure(kSaveErrorMessage, file.error());
    }
    return {};
}

}  // namespace korvan

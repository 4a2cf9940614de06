#include "app/undo_history.h"

#include <unordered_set>
#include <utility>

namespace korvan::app {
namespace {

std::shared_ptr<const Solid> copyOf(const Solid& s) {
    auto copy = std::make_shared<Solid>();
    copy->triangles = s.triangles;
    copy->vertices = s.vertices;
    copy->minCorner = s.minCorner;
    copy->maxCorner = s.maxCorner;
    copy->centre = s.centre;
    copy->fileMinCorner = s.fileMinCorner;
    copy->fileMaxCorner = s.fileMaxCorner;
    copy->loaded = s.loaded;
    copy->wireframe = s.wireframe;
    copy->edgeLimit = s.edgeLimit;
    return copy;
}

size_t bytesOf(const Solid& s) {
    return s.triangles.capacity() * sizeof(Triangle) + s.vertices.capacity() * sizeof(Vector4);
}

}  // namespace

UndoHistory::UndoHistory(size_t maxStates, size_t byteBudget)
    : m_maxStates(maxStates < 1 ? 1 : maxStates), m_byteBudget(byteBudget) {}

std::shared_ptr<const Solid> UndoHistory::share(const Scene& scene, int32_t objectNumber) {
    const size_t i = objectNumber == 1 ? 0 : 1;
    const Solid& live = objectNumber == 1 ? scene.m_object1 : scene.m_object2;
    if (!m_shared[i] || m_sharedRevision[i] != live.revision) {
        m_shared[i] = copyOf(live);
        const Solid& plain = scene.closedOperand(objectNumber);
        m_sharedPlain[i] = &plain != &live ? copyOf(plain) : nullptr;
        m_sharedRevision[i] = live.revision;
    }
    return m_shared[i];
}

SceneSnapshot UndoHistory::capture(const Scene& scene, const QString (&fileName)[2],
                                   bool resultUnsaved) {
    SceneSnapshot s;
    s.object1 = share(scene, 1);
    s.object2 = share(scene, 2);
    s.plain[0] = m_sharedPlain[0];
    s.plain[1] = m_sharedPlain[1];
    s.object2Offset = scene.m_object2Offset;
    s.object2Rotation = scene.m_object2Rotation;
    s.fileName[0] = fileName[0];
    s.fileName[1] = fileName[1];
    s.resultUnsaved = resultUnsaved;
    return s;
}

void UndoHistory::restore(Scene& scene, const SceneSnapshot& state) {
    for (int32_t n : {1, 2}) {
        const Solid& saved = n == 1 ? *state.object1 : *state.object2;
        Solid& live = n == 1 ? scene.m_object1 : scene.m_object2;
        if (m_shared[n - 1] == (n == 1 ? state.object1 : state.object2) &&
            m_sharedRevision[n - 1] == live.revision) {
            continue;  // the live mesh is that state already
        }
        Solid copy;
        copy.copyMeshFrom(saved);
        Solid plain;
        if (state.plain[n - 1]) {
            plain.copyMeshFrom(*state.plain[n - 1]);
        }
        if (saved.loaded != 0) {
            scene.ReplaceObject(n, std::move(copy), std::move(plain));
        } else {
            // Never loaded: nothing to draw or operate on, whatever tree was left.
            live.clear();
            live.loaded = 0;
            if (n == 2) {
                scene.releaseTree2();
            }
        }
        m_shared[n - 1] = n == 1 ? state.object1 : state.object2;
        m_sharedPlain[n - 1] = state.plain[n - 1];
        m_sharedRevision[n - 1] = live.revision;
    }
    scene.m_object2Offset = state.object2Offset;
    scene.m_object2Rotation = state.object2Rotation;
}

void UndoHistory::push(SceneSnapshot before) {
    m_undo.push_back(std::move(before));
    m_redo.clear();
    trim();
}

std::optional<SceneSnapshot> UndoHistory::undo(SceneSnapshot current) {
    if (m_undo.empty()) {
        return std::nullopt;
    }
    SceneSnapshot state = std::move(m_undo.back());
    m_undo.pop_back();
    m_redo.push_back(std::move(current));
    return state;
}

std::optional<SceneSnapshot> UndoHistory::redo(SceneSnapshot current) {
    if (m_redo.empty()) {
        return std::nullopt;
    }
    SceneSnapshot state = std::move(m_redo.back());
    m_redo.pop_back();
    m_undo.push_back(std::move(current));
    return state;
}

size_t UndoHistory::bytesHeld() const {
    std::unordered_set<const Solid*> seen;
    size_t bytes = 0;
    for (const auto* list : {&m_undo, &m_redo}) {
        for (const SceneSnapshot& s : *list) {
            for (const Solid* mesh :
                 {s.object1.get(), s.object2.get(), s.plain[0].get(), s.plain[1].get()}) {
                if (mesh != nullptr && seen.insert(mesh).second) {
                    bytes += bytesOf(*mesh);
                }
            }
        }
    }
    return bytes;
}

void UndoHistory::trim() {
    // The newest state stays whatever it costs: one step back is always there.
    while (m_undo.size() > m_maxStates || (m_undo.size() > 1 && bytesHeld() > m_byteBudget)) {
        m_undo.pop_front();
    }
}

}  // namespace korvan::app

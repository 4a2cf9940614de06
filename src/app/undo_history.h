// "Ponisti" and "Ponovi": earlier states of both objects and of object 2's placement. A state
// shares its meshes with the states around it while a mesh is unchanged, so that moving
// object 2 costs no copy; the history keeps a few states within a memory budget, dropping the
// oldest first.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

#include "geometry/solid.h"
#include "geometry/vector4.h"
#include "scene/scene.h"

namespace korvan::app {

struct SceneSnapshot {
    std::shared_ptr<const Solid> object1;
    std::shared_ptr<const Solid> object2;
    // What the closed engine takes for each object, where that is not the object itself (the
    // mesh before sampling): kept so that an operation undone and done again gives its result
    // again.
    std::shared_ptr<const Solid> plain[2];
    Vector4 object2Offset;
    Vector4 object2Rotation;
    QString fileName[2];
    bool resultUnsaved = false;
    // Where object 2 was read or generated (the view's; capture leaves it zero).
    Vector4 object2Home;
};

class UndoHistory {
public:
    explicit UndoHistory(size_t maxStates = 10, size_t byteBudget = size_t{512} << 20);

    // The scene as it is now. Meshes whose revision is the one last captured or restored are
    // shared instead of copied.
    SceneSnapshot capture(const Scene& scene, const QString (&fileName)[2], bool resultUnsaved);
    // Puts a state into the scene (both meshes, their trees rebuilt, object 2's placement).
    void restore(Scene& scene, const SceneSnapshot& state);

    // A change was made; `before` is the state it replaced. Clears what "Ponovi" had.
    void push(SceneSnapshot before);
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // The state to go back (or forward) to; `current` is kept for the other direction.
    std::optional<SceneSnapshot> undo(SceneSnapshot current);
    std::optional<SceneSnapshot> redo(SceneSnapshot current);
    size_t undoCount() const { return m_undo.size(); }
    // Bytes of the distinct meshes the history holds.
    size_t bytesHeld() const;

private:
    std::shared_ptr<const Solid> share(const Scene& scene, int32_t objectNumber);
    void trim();

    size_t m_maxStates;
    size_t m_byteBudget;
    std::deque<SceneSnapshot> m_undo;  // oldest first
    std::deque<SceneSnapshot> m_redo;  // next redo last
    // The copy of each live mesh made last, with the revision it was made at.
    std::shared_ptr<const Solid> m_shared[2];
    std::shared_ptr<const Solid> m_sharedPlain[2];
    uint64_t m_sharedRevision[2] = {0, 0};
};

}  // namespace korvan::app

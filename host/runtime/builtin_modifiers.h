// The host's own selection modifiers, which make the selections that plug-ins record:
// keyed selections, a moving soft selection, and a keyed vertex count.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "vomark/sdk.h"

namespace vm {

// The host's own modifiers, which may sit in either part of a stack: the built-ins work on whatever
// mesh reaches them, and the stand-in for an unknown class passes it through wherever it was saved.
class HostModifier : public Modifier {};

class SelectKeys : public HostModifier {
  public:
    struct Key {
        TimeValue t;
        std::vector<int> selected;
        std::optional<std::vector<float>> weights;
    };
    // Keys in any order; the key at or before t holds until the next one.
    explicit SelectKeys(std::vector<Key> keys);
    Class_ID ClassID() override { return Class_ID(0x5e1ec7, 1); }
    void ClassDisplayName(CStr& name) override { name = "SelectKeys"; }
    void EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) override;
    const std::vector<Key>& Keys() const { return keys_; }

  private:
    std::vector<Key> keys_;
};

class SoftSelect : public HostModifier {
  public:
    struct Key {
        TimeValue t;
        Point3 at;
    };
    // Vertices within `radius` of the center are selected; within radius + falloff they get a smooth
    // weight in (0, 1). The center moves linearly between keys and holds outside them.
    SoftSelect(std::vector<Key> centers, float radius, float falloff);
    Class_ID ClassID() override { return Class_ID(0x5e1ec7, 2); }
    void ClassDisplayName(CStr& name) override { name = "SoftSelect"; }
    void EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) override;
    Point3 CenterAt(TimeValue t) const;
    const std::vector<Key>& Centers() const { return centers_; }
    float Radius() const { return radius_; }
    float Falloff() const { return falloff_; }

  private:
    std::vector<Key> centers_;
    float radius_, falloff_;
};

class Trim : public HostModifier {
  public:
    struct Key {
        TimeValue t;
        int count;
    };
    // Vertices past the keyed count, and the faces that use them, are dropped.
    explicit Trim(std::vector<Key> keys);
    Class_ID ClassID() override { return Class_ID(0x5e1ec7, 3); }
    void ClassDisplayName(CStr& name) override { name = "Trim"; }
    void EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) override;
    const std::vector<Key>& Keys() const { return keys_; }

  private:
    std::vector<Key> keys_;
};

// A modifier of a class that no loaded module provides: it passes its input through and keeps the
// chunks it was loaded from, so that saving the scene writes them back unchanged.
class UnknownModifier : public HostModifier {
  public:
    UnknownModifier(SClass_ID sclass, Class_ID id, std::string chunks)
        : sclass_(sclass), id_(id), chunks_(std::move(chunks)) {}
    SClass_ID SuperClassCode() override { return sclass_; }
    Class_ID ClassID() override { return id_; }
    void ClassDisplayName(CStr& name) override { name = "Unknown"; }
    void EvaluateMesh(TimeValue, ModContext&, ObjectState*, INode*) override {}
    const std::string& Chunks() const { return chunks_; }

  private:
    SClass_ID sclass_;
    Class_ID id_;
    std::string chunks_;
};

} // namespace vm

// The three Boolean operations, named once for the engines, the scene, the CLI and the view.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "geometry/triangle.h"

namespace korvan {

enum class BooleanOp { Union, Intersection, Difference };

// The labels a triangle of object 1 and of object 2 must carry to enter the result.
struct KeepLabels {
    int32_t object1;
    int32_t object2;
};

constexpr KeepLabels keepLabels(BooleanOp op) {
    switch (op) {
    case BooleanOp::Union:
        return {kLabelOutside, kLabelOutside};
    case BooleanOp::Intersection:
        return {kLabelInside, kLabelInside};
    case BooleanOp::Difference:
        break;
    }
    return {kLabelOutside, kLabelInside};
}

// "union", "intersection", "difference": the CLI's command names.
constexpr std::string_view operationName(BooleanOp op) {
    switch (op) {
    case BooleanOp::Union:
        return "union";
    case BooleanOp::Intersection:
        return "intersection";
    case BooleanOp::Difference:
        break;
    }
    return "difference";
}

constexpr std::optional<BooleanOp> operationFromName(std::string_view name) {
    for (BooleanOp op : {BooleanOp::Union, BooleanOp::Intersection, BooleanOp::Difference}) {
        if (operationName(op) == name) {
            return op;
        }
    }
    return std::nullopt;
}

}  // namespace korvan

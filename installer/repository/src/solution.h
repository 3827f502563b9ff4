#pragma once

#include "typedkey.h"

class Solution : public TypedKey<Solution, KeyTypeSolution> {
public:
    using TypedKey::TypedKey;
};

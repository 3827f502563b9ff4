#pragma once

#include "typedkey.h"

class SolutionOption : public TypedKey<SolutionOption, KeyTypeSolutionOption> {
public:
    using TypedKey::TypedKey;
};

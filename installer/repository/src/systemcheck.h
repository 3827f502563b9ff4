#pragma once

#include "typedkey.h"

class SystemCheck : public TypedKey<SystemCheck, KeyTypeSystemCheck> {
public:
    using TypedKey::TypedKey;
};

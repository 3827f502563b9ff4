#pragma once

#include "typedkey.h"

class Component : public TypedKey<Component, KeyTypeComponent> {
public:
    using TypedKey::TypedKey;
};

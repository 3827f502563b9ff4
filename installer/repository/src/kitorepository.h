#pragma once

#include "typedkey.h"

class KitoRepository : public TypedKey<KitoRepository, KeyTypeKitoRepository> {
public:
    using TypedKey::TypedKey;
};

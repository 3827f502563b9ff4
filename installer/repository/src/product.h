#pragma once

#include "typedkey.h"

class Product : public TypedKey<Product, KeyTypeProduct> {
public:
    using TypedKey::TypedKey;
};

#include "framework/VMSnapUtil.h"

CVMSnapUtil::~CVMSnapUtil() = default;

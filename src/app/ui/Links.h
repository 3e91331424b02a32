// The program's fixed web addresses and maker details.
#pragma once

#include <string>

constexpr const char* kProductName = "Clipharbor";
constexpr const char* kMakerName = "Norvale Software";          // shown by lTitle
constexpr const char* kMakerAddress = "www.norvalesoft.com";    // shown by lbEAddress
constexpr const char* kMakerEmail = "support@norvalesoft.com";
constexpr const char* kHomePage = "http://www.norvalesoft.com/clipharbor/";
constexpr const char* kMakerSite = "http://www.norvalesoft.com/";
constexpr const char* kUpdatePage = "http://www.norvalesoft.com/clipharbor/update-1.0.html";
constexpr const char* kCopyright = "Copyright (C) 2008 Norvale Software";

// The payment service's donation address for this product.
std::string DonatePage();

#include "app/ui/Links.h"

std::string DonatePage() {
  std::string item;
  for (const char* p = kProductName; *p; ++p) {
    if (*p == ' ') item += "%20";
    else item += *p;
  }
  return std::string("https://www.paypal.com/cgi-bin/webscr?") + "cmd=_xclick" + "&business=" + kMakerEmail +
         "&item_name=" + item + "&item_number=7273-11" + "&no_shipping=0" + "&no_note=1" + "&tax=0" +
         "&currency_code=USD" + "&bn=PP-DonationsBF" + "&charset=UTF-8";
}

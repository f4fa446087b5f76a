#pragma once

// Every web address the program opens lives here, so a vendor who sells under
// their own name edits this one file (and rebuilds) to point the buttons and
// the help fallback at their own pages.

namespace og::VendorLinks {

// Base of the vendor's home page; help topics are appended to it when the
// help page is not installed beside the program. Must end in "/".
inline constexpr const char* HomePageBase = "https://www.example.com/ordergate/";

// The advertising page of the main window's default button.
inline constexpr const char* Advertising = "https://www.example.com/memory/";

// The seven best-seller pages of the shop buttons.
inline constexpr const char* ShopVhs = "https://shop.example.com/top100/vhs";
inline constexpr const char* ShopDvd = "https://shop.example.com/top100/dvd";
inline constexpr const char* ShopMusic = "https://shop.example.com/top100/music";
inline constexpr const char* ShopBooks = "https://shop.example.com/top100/books";
inline constexpr const char* ShopToys = "https://shop.example.com/top100/toys-and-games";
inline constexpr const char* ShopTools = "https://shop.example.com/top100/tools";
inline constexpr const char* ShopZines = "https://shop.example.com/top100/magazines";

} // namespace og::VendorLinks

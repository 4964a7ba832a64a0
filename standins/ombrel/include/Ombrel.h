// Development stand-in for the Halyx platform account library (Ombrel).
//
// It offers exactly the operations TesselSDK uses and answers from the
// environment of the process:
//   OMBREL_ACCESS_TOKEN  the signed-in user's access token
//   OMBREL_LANGUAGE      the user's language (for example "ko-KR")
//   OMBREL_NATION        the user's nation (for example "KR")
// An unset variable makes the matching call report failure.
#pragma once

#if defined(_WIN32)
#  if defined(OMBREL_BUILDING)
#    define OMBREL_API __declspec(dllexport)
#  else
#    define OMBREL_API __declspec(dllimport)
#  endif
#else
#  define OMBREL_API __attribute__((visibility("default")))
#endif

namespace Halyx {
namespace Quenda {

class OMBREL_API Result {
public:
    explicit Result(bool success = false);
    ~Result();
    bool IsSuccessful() const;

private:
    bool success_;
};

namespace Base {

class OMBREL_API HalyxPCGds {
public:
    HalyxPCGds();
    ~HalyxPCGds();
    const wchar_t* GetLanguage() const;
    const wchar_t* GetNation() const;

    // Filled by Base_GetGds.
    static constexpr int kCapacity = 128;
    wchar_t language[kCapacity];
    wchar_t nation[kCapacity];
};

}  // namespace Base
}  // namespace Quenda
}  // namespace Halyx

// Writes the access token as a terminated wide text into buffer (capacity in
// wide characters). Fails when the token is unknown or does not fit.
OMBREL_API Halyx::Quenda::Result Base_GetAccessToken(wchar_t* buffer, int capacity);

// Fills the user's settings (language and nation).
OMBREL_API Halyx::Quenda::Result Base_GetGds(Halyx::Quenda::Base::HalyxPCGds* gds);

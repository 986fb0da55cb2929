#include "wg_engine/wg_key.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

// 32 bytes 0x00, 0x01, ... 0x1F.
constexpr const char* kKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";

TEST(DecodeWgKey, PaddedKeyOf32BytesIsAcceptedAlsoWithSurroundingBlanks) {
    for (const std::string& text :
         {std::string(kKey), "  " + std::string(kKey) + "\t\n", "\u00a0" + std::string(kKey)}) {
        const auto key = decode_wg_key(text);
        ASSERT_TRUE(key) << text << ": " << key.error();
        for (std::size_t i = 0; i < key->size(); ++i) EXPECT_EQ((*key)[i], i);
    }
}

TEST(DecodeWgKey, Refusals) {
    const struct {
        std::string text;
        std::string error;
    } rows[] = {
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8",
         "Błąd Base64: nieprawidłowe dopełnienie: 0 znaków '=' zamiast 1 na pozycji 43"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8==",
         "Błąd Base64: nieprawidłowe dopełnienie: 2 znaków '=' zamiast 1 na pozycji 43"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8===",
         "Błąd Base64: niedozwolony bajt 0x3D ('=') na pozycji 43"},
        {"AAECAwQF!gcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=",
         "Błąd Base64: niedozwolony bajt 0x21 ('!') na pozycji 8"},
        {"AAEC AwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=",
         "Błąd Base64: niedozwolony bajt 0x20 (' ') na pozycji 4"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh\xc3\xa9=",
         "Błąd Base64: niedozwolony bajt 0xC3 na pozycji 42"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh9=",
         "Błąd Base64: niezerowe nieużywane bity ostatniego znaku 0x39 ('9') na pozycji 42"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8g", "Klucz ma 33 bajtów (wymagane 32)"},
        {"AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHg==", "Klucz ma 31 bajtów (wymagane 32)"},
        {"", "Klucz ma 0 bajtów (wymagane 32)"},
        {"   ", "Klucz ma 0 bajtów (wymagane 32)"},
        {"AAECA", "Błąd Base64: długość 5 znaków danych nie daje pełnego bajtu (reszta 6 bitów)"},
        {"=", "Błąd Base64: nieprawidłowe dopełnienie: 1 znaków '=' zamiast 0 na pozycji 0"},
    };
    for (const auto& row : rows) {
        const auto key = decode_wg_key(row.text);
        ASSERT_FALSE(key) << row.text;
        EXPECT_EQ(key.error(), row.error) << row.text;
    }
}

}  // namespace
}  // namespace tarvo

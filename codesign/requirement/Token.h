#pragma once

#include <string>

namespace codesign::requirement {

// The words and marks of the code requirement language. Every reserved word
// has its own kind, so that the parser never compares texts.
enum class TokenKind {
  End,
  // Values.
  DotKey,   // com.example.app, field.1.2.3, subject.OU
  String,   // "…", with \" already resolved
  Hash,     // H"…": the hex digits
  HexData,  // 0x…: the hex digits
  Integer,  // decimal digits
  // Reserved words.
  Guest, Host, Designated, Library, Plugin, Or, And, Always, True, Never, False,
  Identifier, CDHash, Platform, Notarized, Legacy, Anchor, Apple, Generic,
  Certificate, Cert, Trusted, Info, Entitlement, Exists, Absent, Leaf, Root,
  Timestamp,
  // Punctuation.
  Semicolon, LeftParen, RightParen, LeftBracket, RightBracket,
  Less, Greater, LessEqual, GreaterEqual, Comma, Equal, EqualEqual, Tilde,
  Minus, Bang, Star,
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;  // the value of DotKey, String, Hash, HexData and Integer
};

}  // namespace codesign::requirement

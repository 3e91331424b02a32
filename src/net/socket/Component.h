// Small component model shared by the socket layer, the logger and the HTTP
// client: a named component base with free notification, an exception base
// carrying a class name and a message, and a bit set over an enumeration.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

class TObject {
 public:
  virtual ~TObject() = default;
};

enum TOperation { opInsert, opRemove };

class TComponent : public TObject {
 public:
  TComponent() = default;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Tells every component that asked for it that this one goes away.
  ~TComponent() override {
    std::vector<TComponent*> list;
    list.swap(FFreeNotifies);
    for (TComponent* c : list) {
      c->RemoveFromList(this);
      c->Notification(this, opRemove);
    }
  }

  std::string Name;

  // `AComponent` will receive Notification(this, opRemove) when this one is
  // destroyed. Symmetric, so whichever dies first unlinks the other.
  void FreeNotification(TComponent* AComponent) {
    if (!AComponent || AComponent == this) return;
    AddToList(AComponent);
    AComponent->AddToList(this);
  }
  void RemoveFreeNotification(TComponent* AComponent) {
    if (!AComponent) return;
    RemoveFromList(AComponent);
    AComponent->RemoveFromList(this);
  }

 protected:
  virtual void Notification(TComponent* AComponent, TOperation Operation) {
    (void)AComponent;
    (void)Operation;
  }

 private:
  void AddToList(TComponent* c) {
    for (TComponent* x : FFreeNotifies)
      if (x == c) return;
    FFreeNotifies.push_back(c);
  }
  void RemoveFromList(TComponent* c) {
    for (auto it = FFreeNotifies.begin(); it != FFreeNotifies.end(); ++it)
      if (*it == c) {
        FFreeNotifies.erase(it);
        return;
      }
  }
  std::vector<TComponent*> FFreeNotifies;
};

// Base of the project's exceptions: a message text and a class name that
// error texts may quote.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
  std::string Message() const { return what(); }
  virtual std::string ClassName() const { return "Exception"; }
};

// A set over an enumeration whose values are 0..31.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) FBits |= Bit(e);
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr TSet& Include(E e) {
    FBits |= Bit(e);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    FBits &= ~Bit(e);
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr std::uint32_t Bits() const { return FBits; }
  constexpr TSet operator+(E e) const {
    TSet s = *this;
    return s.Include(e);
  }
  constexpr TSet operator-(E e) const {
    TSet s = *this;
    return s.Exclude(e);
  }
  constexpr bool operator==(const TSet& o) const { return FBits == o.FBits; }

 private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
  std::uint32_t FBits = 0;
};

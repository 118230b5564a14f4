#pragma once
// Tells code that calls out, to a callback that may destroy the caller, whether the caller survived:
//
//   LifeGuard::Scope alive(guard_);
//   callback();
//   if (!alive) return;  // this object is gone: touch no member
//
// Scopes nest (a callback may call back into the object). Nothing is allocated; the object owns
// the guard and the guard marks every open scope when it is destroyed.
namespace plat {

class LifeGuard {
 public:
  LifeGuard() = default;
  LifeGuard(const LifeGuard&) = delete;
  LifeGuard& operator=(const LifeGuard&) = delete;
  ~LifeGuard() {
    for (Scope* s = top_; s; s = s->next_) s->dead_ = true;
  }

  class Scope {
   public:
// The guard keeps the address of each open scope until that scope ends; GCC's optimiser cannot
// see the destructor take it back and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
    explicit Scope(LifeGuard& guard) : guard_(guard), next_(guard.top_) { guard.top_ = this; }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    ~Scope() {
      if (!dead_) guard_.top_ = next_;
    }
    bool alive() const { return !dead_; }
    explicit operator bool() const { return !dead_; }

   private:
    friend class LifeGuard;
    LifeGuard& guard_;
    Scope* next_;
    bool dead_ = false;
  };

 private:
  Scope* top_ = nullptr;
};

}  // namespace plat

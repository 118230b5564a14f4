#pragma once
// The process-wide node lists a component's poll walks: plain pointers, added by each node when it
// is made and removed when it goes.
#include <algorithm>
#include <vector>

namespace kelm::fw {

template <class T>
void EraseFrom(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

template <class T>
bool Contains(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace kelm::fw

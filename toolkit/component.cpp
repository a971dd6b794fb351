// TComponent: owner-managed lifetime of the non-visual components.
#include "toolkit/toolkit.h"

#include <algorithm>
#include <stdexcept>
#include <string>

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner != nullptr) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  while (!FComponents.empty()) {
    TComponent* owned = FComponents.back();
    FComponents.pop_back();
    owned->FOwner = nullptr;
    delete owned;
  }
  if (FOwner != nullptr) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
  return FComponents[static_cast<std::size_t>(Index)];
}

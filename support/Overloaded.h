#pragma once
// One visitor made of several handlers, one per alternative of a std::variant:
//   std::visit(TOverloaded{[](const A&) {...}, [](const B&) {...}}, value);

template <class... Handlers>
struct TOverloaded : Handlers... {
    using Handlers::operator()...;
};

#pragma once
// One visitor made of several handlers, one per alternative of a std::variant:
//   std::visit(TOverloaded{[](const A&) {...}, [](const B&) {...}}, value);

template <class... Handlers>
struct TOverloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers that deduce no template arguments of an aggregate (Clang before 17).
template <class... Handlers>
TOverloaded(Handlers...) -> TOverloaded<Handlers...>;

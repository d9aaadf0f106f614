// The one mechanism that turns a service interface's operations into invoker handlers and proxy
// calls. Each operation is declared once, as its member-function pointer, its name and its
// parameter names (DeclareOperation); everything else is deduced from the signature:
//
//   parameter type                     direction   server-side local
//   const T& or T (value)              In          T
//   T* (a Binary or other object)      In          std::unique_ptr<T>, may be null
//   T& (non-const)                     Out         T
//   result type R (not void)           Result      R (std::unique_ptr<A> for arrays)
//
// Request bodies carry the In values in parameter order; response bodies carry "Result" first,
// then the Out values in parameter order. An operation with neither result nor Out values asks
// for no response (the flag changes nothing on the TCP transport).
//
// ServerBinding<Op>::Invoke is the body of an invoker handler; ClientBinding<Op>::Call the body
// of a proxy method. Value descriptions come from OperationTypeInfo<T>(), which a contract may
// specialise for its own types (an enumeration's name, for instance).
//
// Thread safety: everything here is stateless; handlers and calls keep their state in locals.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "remoting/invoker.h"
#include "remoting/message.h"
#include "remoting/remotable.h"
#include "remoting/transport.h"
#include "remoting/type_info.h"

namespace vantry {

// The description a value of type T travels with.
template <typename T>
const TypeInfo& OperationTypeInfo() {
  return TypeInfoOf<T>();
}

// The parts of an operation's member-function signature.
template <typename M>
struct MethodSignature;
template <typename C, typename R, typename... Args>
struct MethodSignature<R (C::*)(Args...)> {
  using Interface = C;
  using Result = R;
  static constexpr size_t kArity = sizeof...(Args);
};

// What a parameter of type Param is: its direction (kOut), whether it is an object passed by
// pointer (kObject), and the Local type a server-side caller holds for it while a call runs.
template <typename Param>
struct ParamTraits {
  using Value = std::remove_cvref_t<Param>;
  static constexpr bool kOut =
      std::is_lvalue_reference_v<Param> && !std::is_const_v<std::remove_reference_t<Param>>;
  static constexpr bool kObject = std::is_pointer_v<Value>;
  static_assert(!(kOut && kObject), "objects travel In only");
  // What the invoker holds while the call runs: objects are owned (and disposed of afterwards).
  using Local = std::conditional_t<kObject, std::unique_ptr<std::remove_pointer_t<Value>>, Value>;
};

// A Local as the argument for parameter Param: the object's pointer, or the value itself.
template <typename Param>
decltype(auto) PassLocal(typename ParamTraits<Param>::Local& local) {
  if constexpr (ParamTraits<Param>::kObject) {
    return local.get();
  } else {
    return (local);
  }
}

namespace binding_internal {

struct NoResult {};
// Member pointers of different types cannot be compared; their tags can.
template <auto Method>
struct MethodTag {};
template <typename R>
using ResultLocal = std::conditional_t<std::is_void_v<R>, NoResult, R>;

// A Binary (or other object) passed by a caller who keeps it: written through a raw pointer, so
// the proxy never takes ownership.
template <typename T>
const TypeInfo& BorrowedObjectTypeInfo() {
  static const TypeInfo info = [] {
    TypeInfo t = TypeInfoOf<std::unique_ptr<T>>();
    t.slot.get = [](const void* slot) -> void* {
      T* object = *static_cast<T* const*>(slot);
      return static_cast<type_info_internal::RootOf<T>*>(object);
    };
    t.slot.reset = nullptr;  // write-only
    return t;
  }();
  return info;
}

template <typename Local>
const TypeInfo& LocalTypeInfo() {
  return OperationTypeInfo<Local>();
}

template <typename T>
void DisposeIfObject(TROObjectDisposer& disposer, std::unique_ptr<T>& object) {
  disposer.Add(object);
}
template <typename T>
void DisposeIfObject(TROObjectDisposer&, T&) {}

}  // namespace binding_internal

// One operation: the member function it calls, its name and the names of its parameters.
template <auto Method>
struct Operation {
  using Signature = MethodSignature<decltype(Method)>;
  static constexpr auto kMethod = Method;

  const char* name;
  std::array<const char*, Signature::kArity> params;
};

// Declares operation `name` of `Method` with one name per parameter, in parameter order.
template <auto Method, typename... Names>
constexpr Operation<Method> DeclareOperation(const char* name, Names... params) {
  static_assert(sizeof...(Names) == Operation<Method>::Signature::kArity, "one name per parameter");
  return Operation<Method>{name, {params...}};
}

// The index of the operation of `Method` in `Table` (a tuple of Operations).
template <auto& Table, auto Method, size_t I = 0>
constexpr size_t OperationIndex() {
  using Tuple = std::remove_cvref_t<decltype(Table)>;
  if constexpr (I >= std::tuple_size_v<Tuple>) {
    static_assert(I < std::tuple_size_v<Tuple>, "the method has no operation in the table");
    return I;
  } else if constexpr (std::is_same_v<
                           binding_internal::MethodTag<std::tuple_element_t<I, Tuple>::kMethod>,
                           binding_internal::MethodTag<Method>>) {
    return I;
  } else {
    return OperationIndex<Table, Method, I + 1>();
  }
}

// The names an operation is sent under: its library (not transmitted by the binary format) and
// its service (the interface name of requests and responses).
struct ServiceNames {
  const char* library;
  const char* service;
};

template <typename Op, typename Signature = typename Op::Signature>
struct OperationBinding;

template <typename Op, typename C, typename R, typename... Args>
struct OperationBinding<Op, MethodSignature<R (C::*)(Args...)>> {
  template <typename P>
  using Traits = ParamTraits<P>;
  using Locals = std::tuple<typename Traits<Args>::Local...>;
  using Result = binding_internal::ResultLocal<R>;
  using Indexes = std::index_sequence_for<Args...>;

  static constexpr bool kHasResult = !std::is_void_v<R>;
  static constexpr bool kHasOut = (Traits<Args>::kOut || ... || false);
  static constexpr bool kNoResponse = !kHasResult && !kHasOut;

  // The body of handler "Invoke_<name>": reads the In values, calls the operation on
  // `instance`'s interface C, writes the response `response_name`. Objects read or received are
  // handed to a disposer bound to `instance` on every path, so they are freed unless retained.
  static void Invoke(const Op& op, const ServiceNames& names, std::string_view response_name,
                     TRORemotable& instance, IROMessage& message, IROTransport& transport,
                     TROResponseOptions& options) {
    Locals locals{};
    Result result{};
    DisposeOnExit dispose{instance, locals, result};
    ReadIns(op, message, locals, Indexes{});
    C& service = InterfaceOf<C>(instance);
    CallService(service, locals, result, Indexes{});
    message.InitializeResponseMessage(&transport, names.library, names.service, response_name);
    if constexpr (kHasResult) message.Write("Result", LocalTypeInfo<R>(), &result);
    WriteOuts(op, message, locals, Indexes{});
    message.Finalize();
    message.UnsetAttributes(&transport);
    if constexpr (kNoResponse) options |= kResponseNoResponse;
  }

  // The body of a proxy method: empties Out texts, then lets `send`(operation name, write_in,
  // read_out) run the exchange, writing the In values and reading "Result" and the Out values
  // straight into the caller's variables.
  template <typename Send>
  static R Call(const Op& op, const Send& send, Args... args) {
    (ClearOutText<Args>(args), ...);
    Result result{};
    auto params = std::tie(args...);
    send(
        op.name, [&](IROMessage& message) { WriteIns(op, message, params, Indexes{}); },
        [&](IROMessage& message) {
          if constexpr (kHasResult) message.Read("Result", LocalTypeInfo<R>(), &result);
          ReadOuts(op, message, params, Indexes{});
        });
    if constexpr (kHasResult) return result;
  }

 private:
  template <typename T>
  static const TypeInfo& LocalTypeInfo() {
    return binding_internal::LocalTypeInfo<T>();
  }

  struct DisposeOnExit {
    TRORemotable& instance;
    Locals& locals;
    Result& result;
    ~DisposeOnExit() {
      TROObjectDisposer disposer(&instance);
      std::apply([&](auto&... local) { (binding_internal::DisposeIfObject(disposer, local), ...); },
                 locals);
      binding_internal::DisposeIfObject(disposer, result);
    }
  };

  // The per-parameter steps: each acts on an In or an Out parameter P and does nothing for the
  // other direction; the folds below visit the parameters in order.
  template <typename P, typename Local>
  static void ReadIn(IROMessage& message, const char* name, Local& local) {
    if constexpr (!Traits<P>::kOut) message.Read(name, LocalTypeInfo<Local>(), &local);
  }
  template <typename P, typename Local>
  static void WriteOut(IROMessage& message, const char* name, const Local& local) {
    if constexpr (Traits<P>::kOut) message.Write(name, LocalTypeInfo<Local>(), &local);
  }
  template <typename P, typename Value>
  static void WriteIn(IROMessage& message, const char* name, const Value& value) {
    if constexpr (Traits<P>::kObject) {
      using Object = std::remove_pointer_t<Value>;
      message.Write(name, binding_internal::BorrowedObjectTypeInfo<Object>(), &value);
    } else if constexpr (!Traits<P>::kOut) {
      message.Write(name, LocalTypeInfo<Value>(), &value);
    }
  }
  template <typename P, typename Value>
  static void ReadOut(IROMessage& message, const char* name, Value& value) {
    if constexpr (Traits<P>::kOut) message.Read(name, LocalTypeInfo<Value>(), &value);
  }

  template <size_t... I>
  static void ReadIns(const Op& op, IROMessage& message, Locals& locals,
                      std::index_sequence<I...>) {
    (ReadIn<Args>(message, op.params[I], std::get<I>(locals)), ...);
  }

  template <size_t... I>
  static void WriteOuts(const Op& op, IROMessage& message, Locals& locals,
                        std::index_sequence<I...>) {
    (WriteOut<Args>(message, op.params[I], std::get<I>(locals)), ...);
  }

  template <size_t... I>
  static void CallService(C& service, Locals& locals, Result& result, std::index_sequence<I...>) {
    if constexpr (kHasResult) {
      result = (service.*Op::kMethod)(PassLocal<Args>(std::get<I>(locals))...);
    } else {
      (service.*Op::kMethod)(PassLocal<Args>(std::get<I>(locals))...);
    }
  }

  template <typename P>
  static void ClearOutText(P& arg) {
    if constexpr (Traits<P>::kOut && std::is_same_v<typename Traits<P>::Value, std::string>) {
      arg.clear();
    }
  }

  template <typename Params, size_t... I>
  static void WriteIns(const Op& op, IROMessage& message, Params& params,
                       std::index_sequence<I...>) {
    (WriteIn<Args>(message, op.params[I], std::get<I>(params)), ...);
  }

  template <typename Params, size_t... I>
  static void ReadOuts(const Op& op, IROMessage& message, Params& params,
                       std::index_sequence<I...>) {
    (ReadOut<Args>(message, op.params[I], std::get<I>(params)), ...);
  }
};

// The handler "Invoke_<name>" of operation I of `Table`.
template <auto& Table, const ServiceNames& Names, size_t I>
void InvokeHandler(TRORemotable& instance, IROMessage& message, IROTransport& transport,
                   TROResponseOptions& options) {
  const auto& op = std::get<I>(Table);
  using Op = std::remove_cvref_t<decltype(op)>;
  static const std::string response_name = std::string(op.name) + "Response";
  OperationBinding<Op>::Invoke(op, Names, response_name, instance, message, transport, options);
}

// The handler table of every operation of `Table`, in table order; built once.
template <auto& Table, const ServiceNames& Names>
std::span<const TROHandlerEntry> HandlerTable() {
  constexpr size_t kCount = std::tuple_size_v<std::remove_cvref_t<decltype(Table)>>;
  static const std::array<std::string, kCount> names = []<size_t... I>(std::index_sequence<I...>) {
    return std::array<std::string, kCount>{(std::string("Invoke_") + std::get<I>(Table).name)...};
  }
  (std::make_index_sequence<kCount>{});
  static const std::array<TROHandlerEntry, kCount> entries =
      []<size_t... I>(std::index_sequence<I...>) {
    return std::array<TROHandlerEntry, kCount>{
        TROHandlerEntry{names[I].c_str(), &InvokeHandler<Table, Names, I>}...};
  }
  (std::make_index_sequence<kCount>{});
  return entries;
}

// The proxy call of `Method`'s operation in `Table`; `send` as in OperationBinding::Call.
template <auto& Table, auto Method, typename Send, typename... Args>
auto CallOperation(const Send& send, Args&&... args) {
  const auto& op = std::get<OperationIndex<Table, Method>()>(Table);
  using Op = std::remove_cvref_t<decltype(op)>;
  return OperationBinding<Op>::Call(op, send, std::forward<Args>(args)...);
}

}  // namespace vantry

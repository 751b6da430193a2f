#pragma once

// The frame every analysis is built from: stages that items are pushed through one at a time.
//
// A producer calls put on the next stage and learns from the result whether the item was taken
// on: true when it was passed on and the rest of the chain accepted it (or a stage kept it),
// false when it was dropped somewhere. A stage that drops a symbolic item gives its state back to
// the state pool before it returns false (dropItem below); a stage that forwards an item hands
// the responsibility for its state on with it.
//
// A pipeline is configured (setProperty), connected, begun, fed with put and ended, in that
// order; compound stages own their members and broadcast the configuration calls to them.

#include <concepts>
#include <type_traits>
#include <utility>
#include <vector>

class SymbolicState;
struct Successor;

namespace pipeline {

// Base of every sink and source. The defaults do nothing and ignore every property.
class Connectable
{
public:
    Connectable() = default;
    Connectable(const Connectable&) = delete;
    Connectable& operator=(const Connectable&) = delete;
    virtual ~Connectable() = default;

    // Called once after the properties are set and before the first item.
    virtual void begin() {}
    // Called once after the last item.
    virtual void end() {}
    // Configures the stage. The key is one of the global key pointers (pipeline/keys.h) and is
    // compared by identity; the meaning of the value depends on the key. Unknown keys are ignored.
    virtual void setProperty(const char* key, void* value)
    {
        (void)key;
        (void)value;
    }
};

// The input side of a stage.
template <class T>
class Sink : public virtual Connectable
{
public:
    // True when the item was taken on, false when it was dropped.
    virtual bool put(T* item) = 0;
};

// A stage that items are pulled from.
template <class T>
class Source : public virtual Connectable
{
public:
    // Stores the next item through the pointer and returns true, or returns false (leaving the
    // item untouched) when nothing is left.
    virtual bool get(T* item) = 0;
};

// A sink that calls a function object: how a stage routes the output of a member into one of its
// own operations.
template <class F, class T>
class FunctionToSinkAdapter : public Sink<T>
{
public:
    explicit FunctionToSinkAdapter(F function) : function(std::move(function)) {}

    bool put(T* item) override { return function(item); }

private:
    F function;
};

// The output side of a stage. It owns at most one adapter, made by the function form of connect.
template <class T>
class Generator
{
public:
    Generator() = default;
    Generator(const Generator&) = delete;
    Generator& operator=(const Generator&) = delete;
    virtual ~Generator() { delete adapter; }

    // Sets the single downstream stage (the last call wins; null leaves the stage without one).
    virtual void connect(Sink<T>* sink) = 0;

    // Connects to a function object that takes a T* and returns bool. The adapter made for an
    // earlier function is deleted; the new one is owned by this generator.
    template <class F>
        requires(!std::is_convertible_v<F, Sink<T>*> && std::is_invocable_r_v<bool, F&, T*>)
    void connect(F function)
    {
        Sink<T>* created = new FunctionToSinkAdapter<F, T>(std::move(function));
        delete adapter;
        adapter = created;
        connect(adapter);
    }

private:
    Sink<T>* adapter = nullptr;
};

// A stage that receives T items and emits U items.
template <class T, class U>
class Filter : public Sink<T>, public Generator<U>
{};

// Gives the state of a dropped item back to its pool. Stages call it on items they drop; for items
// without a symbolic state it does nothing.
void dropItem(SymbolicState* state);
void dropItem(Successor* successor);
template <class T>
void dropItem(T*)
{}

// A filter with one downstream stage, next. Concrete filters implement put and forward to next.
template <class T, class U>
class AbstractFilter : public Filter<T, U>
{
public:
    using Generator<U>::connect;
    void connect(Sink<U>* sink) override { next = sink; }

protected:
    Sink<U>* next = nullptr;
};

// The members of a compound stage. Owns them: clear and the destructor delete every member.
// Members are visited most recently added first.
class ConnectableCollection
{
public:
    ConnectableCollection() = default;
    ConnectableCollection(const ConnectableCollection&) = delete;
    ConnectableCollection& operator=(const ConnectableCollection&) = delete;
    virtual ~ConnectableCollection();

    // Takes ownership of the member and puts it in front of the others; null is ignored.
    void add(Connectable* member);
    void setProperty(const char* key, void* value);
    void begin();
    void end();
    // Deletes every member.
    void clear();

private:
    struct Node
    {
        Node* next;
        Connectable* member;
    };
    Node* head = nullptr;
};

// A stage made of member stages that it owns. begin, end and setProperty reach every member;
// subclasses handle their own keys, and wire their members in begin, before calling these.
template <class T, class U>
class CompoundFilter : public AbstractFilter<T, U>
{
public:
    void begin() override { members.begin(); }
    void end() override { members.end(); }
    void setProperty(const char* key, void* value) override { members.setProperty(key, value); }

protected:
    // Adds a member (null is ignored) and returns it, so a constructor can keep a typed pointer.
    template <class M>
    M* addMember(M* member)
    {
        members.add(member);
        return member;
    }

    ConnectableCollection members;
};

// A stage that items are put into on one side and taken from on the other: a waiting list.
template <class S, class T>
class Buffer : public Sink<S>, public Source<T>
{};

// A fan-out: each item goes to every connected sink in connection order until one refuses it.
// Configuration calls are not passed on, and the connected sinks are not owned.
template <class T>
class While : public Filter<T, T>
{
public:
    using Generator<T>::connect;
    // Adds a sink behind the ones connected before; null is ignored.
    void connect(Sink<T>* sink) override
    {
        if (sink != nullptr) {
            sinks.push_back(sink);
        }
    }

    // True when every sink took the item (also when there is none).
    bool put(T* item) override
    {
        for (Sink<T>* sink : sinks) {
            if (!sink->put(item)) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<Sink<T>*> sinks;
};

// A filter that tells an observer about each item: before it is passed on (the observer may
// refuse it) and after everything it caused downstream has finished. The observer is not owned.
template <class T>
class ObservableFilter : public AbstractFilter<T, T>
{
public:
    class Observer
    {
    public:
        virtual ~Observer() = default;
        // Whether the item may be passed on.
        virtual bool before() { return true; }
        // Told the downstream result; returns the result of put.
        virtual bool after(bool result) { return result; }
    };

    explicit ObservableFilter(Observer* observer = nullptr) : observer(observer) {}

    void setObserver(Observer* value) { observer = value; }
    Observer* getObserver() const { return observer; }

    bool put(T* item) override
    {
        if (observer != nullptr && !observer->before()) {
            dropItem(item);
            return false;
        }
        bool result;
        if (this->next != nullptr) {
            result = this->next->put(item);
        } else {
            dropItem(item);
            result = false;
        }
        return observer != nullptr ? observer->after(result) : result;
    }

private:
    Observer* observer;
};

}  // namespace pipeline

#pragma once

#include <vector>

#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/Persistable.h"
#include "NUVA_o/QueryProperty.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

class Axis;
class AxisHierarchy;
class Cube;
class Expression;
class Tuple;
class ViewResultSet;

// A cube view: the client-side model of one multidimensional query against one cube. View axes
// lay out rows and columns; slice axes restrict the query.
class VTQ_EXPORT Viewpoint : public Persistable, public virtual support::StrongRefBase {
 public:
  ~Viewpoint() override = default;

  // Borrowed; null while the view is unbound.
  virtual Cube* getCube() const = 0;
  // The result of the view with one reference for the caller.
  virtual ViewResultSet* query() const = 0;
  virtual void interrupt() = 0;
  // Undoes every edit made since the last query.
  virtual void revert() = 0;
  // The view as a "CubeView" document.
  virtual TOVAString toXML() const = 0;
  virtual const TOVAString& getUniqueName() const = 0;
  // View axes first, then slice axes.
  virtual const std::vector<auto_unuse<Axis>>& getAxes() const = 0;
  virtual void moveAxisHierarchy(const AxisHierarchy* axisHierarchy, Axis* axis,
                                 unsigned position) = 0;
  virtual void moveAxisHierarchy(const TOVAString& uniqueName, Axis* axis, unsigned position) = 0;
  virtual void swapAxisHierarchies(const AxisHierarchy* first, const AxisHierarchy* second) = 0;
  virtual void swapAxisHierarchies(const TOVAString& first, const TOVAString& second) = 0;
  virtual void swapAxes(Axis* first, Axis* second) = 0;
  virtual const std::vector<auto_unuse<Sort>>& getSorts() const = 0;
  // The new sort with one reference for the caller.
  virtual Sort* addSort(const Tuple* tuple, Sort::Direction direction, bool unused) = 0;
  // Null is ignored.
  virtual void removeSort(const Sort* sort) = 0;
  virtual const std::vector<auto_unuse<Filter>>& getFilters() const = 0;
  virtual Filter* addFilter(const Tuple* tuple, const Expression* expression) = 0;
  virtual void removeFilter(const Filter* filter) = 0;
  virtual const std::vector<auto_unuse<ExceptionSpecification>>& getExceptionSpecifications()
      const = 0;
  virtual ExceptionSpecification* addExceptionSpecification(const Tuple* tuple,
                                                            const Expression* expression,
                                                            int banding) = 0;
  virtual void removeExceptionSpecification(const ExceptionSpecification* specification) = 0;
  virtual void addQueryProperty(QueryProperty property) = 0;
  virtual void removeQueryProperty(QueryProperty property) = 0;
  virtual bool hasQueryProperty(QueryProperty property) const = 0;
  // What the last restore had to repair.
  virtual const std::vector<TOVAString>& getRepairDetails() const = 0;
  // Binds the view to `cube` and restores it from a "CubeView" document. Throws
  // MalformedXMLException when the text is not such a document.
  virtual void initialise(Cube* cube, const TOVAString& xml) = 0;
  // Binds the view to `cube` with the default layout: the view axes, then the slice axes, every
  // dimension on the first slice axis. Throws InvalidArgumentException for 0 or more than 2 view
  // axes or no slice axis, leaving the view unbound.
  virtual void initialise(Cube* cube, unsigned viewAxes, unsigned sliceAxes) = 0;
  virtual unsigned countViewAxes() const = 0;
  virtual unsigned countSliceAxes() const = 0;
  // A new view bound to the same cube with copies of the axes, clauses and query properties;
  // one reference for the caller.
  virtual Viewpoint* clone() const = 0;
  // Unbinds the view; `connectionListener` also leaves the cube's connection listeners.
  virtual void disconnect(bool connectionListener) = 0;
  // The query-property test without locking, for callers that hold the view's lock.
  virtual bool _hasQueryProperty(QueryProperty property) const = 0;
};

}  // namespace NUVA_o

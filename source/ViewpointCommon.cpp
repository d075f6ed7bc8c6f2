#include "ViewpointCommon.h"

#include <algorithm>
#include <climits>

#include "ExceptionSpecificationCommon.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Expression.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/SubTotal.h"
#include "NUVA_o/Tuple.h"
#include "axiscommon.h"
#include "optionalcubeviewclausecommon.h"
#include "viewpointcommands.h"
#include "common/CommonParameter.h"
#include "common/ComponentLog.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointFactory.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

namespace {

const char* const kSource = "ViewpointCommon";
const char* const kVersion = "11.5.8";
const char* const kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";

// Topics the cube view logs under besides its own component.
const ComponentLog& listenersLog() {
  static const ComponentLog log(moduleName(), "LISTENERS");
  return log;
}
const ComponentLog& cubeViewLog() {
  static const ComponentLog log(moduleName(), "CubeView");
  return log;
}

TOVAString catalogue_text(uint32_t id) {
  TOVAString text;
  support_dll::CoreLog::getLogObject()->get(text, id, 0, nullptr);
  return text;
}

// The instance number that log lines show for a counted object of this library or a provider.
uint32_t instance_of(const olap_api::RefCount* object) {
  auto* counted = dynamic_cast<const support::RefCountImpl*>(object);
  return counted ? counted->getInstanceNumber() : 0;
}

// The view whose history records a clause's own edits; null takes the clause out of any view.
void set_executioner(const NUVA_o::OptionalCubeViewClause* clause,
                     ViewpointCommandExecutioner* executioner) {
  if (auto* common = dynamic_cast<OptionalCubeViewClauseCommon*>(
          const_cast<NUVA_o::OptionalCubeViewClause*>(clause)))
    common->setCommandExecutioner(executioner);
}

bool is_member_level_property(NUVA_o::QueryProperty p) {
  return (p >= NUVA_o::IS_CALCULATION && p <= NUVA_o::IS_DRILLED) || p == NUVA_o::UNRESTRICTED;
}

}  // namespace

ViewpointCommon::ViewpointCommon()
    : support::StrongRef("ViewpointCommon", support::nextInstanceNumber<ViewpointCommon>()),
      m_Guid(SystemSupport::GenerateGUID()) {
  m_UniqueName.build("Viewpoint %ld", long(getInstanceNumber()));
}

ViewpointCommon::~ViewpointCommon() {
  try {
    disconnect(true);
  } catch (...) {
    support_dll::AssertionFailure("!\"~Viewpoint\"", __FILE__, __LINE__);
  }
}

void ViewpointCommon::require_bound(const char* operation) const {
  if (m_pCube) return;
  support::raise<CubeViewStateExceptionImpl>(moduleName(), support::COMMON_E_NOT_BOUND, operation);
}

// ---------------------------------------------------------------------------------------------
// Binding

bool ViewpointCommon::common_initialise(NUVA_o::Cube* cube) {
  // Checked before anything is dropped: a refused call leaves a bound view as it was.
  if (!cube || m_pCube) {
    support_dll::AssertionFailure("pCube && m_pCube == NULL", __FILE__, __LINE__);
    return false;
  }
  m_pDerivedViewpoint.reset();
  dirty_viewpoint(true);

  m_pCube = auto_unuse<NUVA_o::Cube>::share(cube);
  m_bCubeListening = cube->addListener(this);
  cube->addConnectionListener(this);
  clear_viewpoint();
  m_pCommandManager = std::make_unique<ViewpointCommandManager>(10, &m_Lock);
  try {
    TOVAString providerName;
    cube->getProviderName(providerName);
    ProviderLibrary* library = createProviderLibrary(providerName);
    m_pDerivedViewpoint.reset(library->createDerivedViewpoint(this));
  } catch (...) {
    // A view that cannot evaluate itself stays unbound.
    disconnect(true);
    throw;
  }
  if (cube->supports(NUVA_o::Cube::SUPPORTS_PARAMETERS))
    for (const auto& parameter : cube->getParameters()) parameter->addListener(this);
  return true;
}

void ViewpointCommon::clear_viewpoint() {
  for (auto& axis : m_Axes) axis->removeListener(this);
  m_Axes.clear();
  drop_clauses(m_Sorts, m_ActiveSorts);
  drop_clauses(m_Filters, m_ActiveFilters);
  drop_clauses(m_ExceptionSpecifications, m_ActiveExceptionSpecifications);
  drop_result_sets("clear_viewpoint");
  m_pCommandManager.reset();
}

template <class T>
void ViewpointCommon::drop_clauses(std::vector<auto_unuse<T>>& all,
                                   std::vector<auto_unuse<T>>& active) {
  for (auto& clause : all) {
    clause->removeListener(this);
    set_executioner(clause.get(), nullptr);
  }
  all.clear();
  active.clear();
}

void ViewpointCommon::initialise(NUVA_o::Cube* cube, unsigned viewAxes, unsigned sliceAxes) {
  if (common_initialise(cube)) initialize_all_to_default(viewAxes, sliceAxes);
}

void ViewpointCommon::initialize_all_to_default(unsigned viewAxes, unsigned sliceAxes) {
  uint32_t code = 0;
  if (viewAxes < 1)
    code = support::COMMON_E_NO_VIEW_AXIS;
  else if (viewAxes > 2)
    code = support::COMMON_E_TOO_MANY_VIEW_AXES;
  else if (sliceAxes < 1)
    code = support::COMMON_E_NO_SLICE_AXIS;
  if (code) {
    disconnect(true);
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), code);
  }
  if (m_pCube) initialize_axes(viewAxes, sliceAxes);
}

void ViewpointCommon::initialize_axes(unsigned viewAxes, unsigned sliceAxes) {
  for (auto& axis : m_Axes) axis->removeListener(this);
  m_Axes.clear();
  const bool nullFilter = m_pCube->getDefaultAxisNullFilter();
  for (unsigned i = 0; i < viewAxes + sliceAxes; ++i) {
    auto_unuse<NUVA_o::Axis> axis(new AxisCommon(
        i < viewAxes ? NUVA_o::Axis::AT_VIEW : NUVA_o::Axis::AT_SLICE, this));
    axis->setAxisNullFilter(nullFilter);
    m_Axes.push_back(std::move(axis));
  }
  initialize_orientation();
  for (auto& axis : m_Axes) axis->addListener(this);
}

void ViewpointCommon::initialize_orientation() {
  const unsigned sliceAxis = countViewAxes();
  if (sliceAxis >= m_Axes.size()) return;
  const bool multiple = m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY);
  for (NUVA_o::Dimension* dimension : m_pCube->getDimensions()) {
    if (multiple)
      add_all_axis_hierarchies(dimension, sliceAxis);
    else if (NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getDefaultHierarchy() : nullptr)
      m_Axes[sliceAxis]->addAxisHierarchy(hierarchy);
  }
}

void ViewpointCommon::add_all_axis_hierarchies(NUVA_o::Dimension* dimension, unsigned axis) {
  if (!dimension) {
    support_dll::AssertionFailure("pDim != NULL", __FILE__, __LINE__);
    return;
  }
  if (axis >= m_Axes.size()) return;
  for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
    viewpointLog().logAt(6, "Viewpoint[%u] creating AxisHierarchy [%s] on Axis #%u",
                         getInstanceNumber(), hierarchy->getUniqueName(), axis);
    m_Axes[axis]->addAxisHierarchy(hierarchy);
  }
}

void ViewpointCommon::initialise(NUVA_o::Cube* cube, const TOVAString& xml) {
  if (!common_initialise(cube)) return;
  // A view that cannot be restored is left unbound (COMMON_E_NOT_A_CUBE_VIEW) or, when its axes
  // could not be rebuilt, in the default layout with the restore's own exception: never half
  // built.
  auto refuse = [&](const TOVAString& why) {
    disconnect(true);
    support::raise<MalformedXMLExceptionImpl>(moduleName(), support::COMMON_E_NOT_A_CUBE_VIEW, why);
  };
  XmlSupport document;
  if (!document.parseXML(xml)) refuse(document.getParseError());
  // The root and its descendants, searched without the DOM's tag list, which walks the document
  // through a cast per step.
  DOMElement* root = document.getDocumentElement();
  std::vector<DOMElement*> views = XmlSupport::getDescendantElementsByTagName(root, "CubeView");
  if (root && XmlSupport::getNodeName(root) == "CubeView") views.insert(views.begin(), root);
  // A foreign document is bad input, not a broken invariant: refused without an assertion report.
  if (views.size() != 1) refuse("the document must hold exactly one 'CubeView' element");
  try {
    restore(views[0], m_pCube.get());
  } catch (const olap_api::ApiException& e) {
    if (!m_Axes.empty()) throw;
    refuse(e.getMessage());
  }
}

void ViewpointCommon::disconnect(bool connectionListener) {
  if (!m_pCube) return;
  clear_viewpoint();
  // Removed whatever the capability says now: it may have been switched since binding.
  for (const auto& parameter : m_pCube->getParameters()) parameter->removeListener(this);
  if (m_bCubeListening) {
    m_pCube->removeListener(this);
    m_bCubeListening = false;
  }
  if (connectionListener) m_pCube->removeConnectionListener(this);
  // The provider's companion evaluates this view on this cube: it goes with the binding.
  m_pDerivedViewpoint.reset();
  m_pCube.reset();
}

unsigned ViewpointCommon::countViewAxes() const {
  return unsigned(std::count_if(m_Axes.begin(), m_Axes.end(), [](const auto& axis) {
    return axis->getAxisType() == NUVA_o::Axis::AT_VIEW;
  }));
}

unsigned ViewpointCommon::countSliceAxes() const {
  return unsigned(std::count_if(m_Axes.begin(), m_Axes.end(), [](const auto& axis) {
    return axis->getAxisType() == NUVA_o::Axis::AT_SLICE;
  }));
}

NUVA_o::Viewpoint* ViewpointCommon::clone() const {
  require_bound("clone");
  auto_unuse<ViewpointCommon> copy(new ViewpointCommon());
  copy->common_initialise(m_pCube.get());
  for (auto& axis : m_Axes) {
    auto_unuse<NUVA_o::Axis> cloned(axis->clone());
    // The cloned axis works for the new view, not for this one.
    if (auto* common = dynamic_cast<AxisCommon*>(cloned.get()))
      common->setCommandExecutioner(copy.get());
    cloned->addListener(copy.get());
    copy->m_Axes.push_back(std::move(cloned));
  }
  auto clone_clauses = [&](const auto& from, auto& all) {
    for (auto& clause : from) {
      auto cloned = auto_unuse<std::remove_reference_t<decltype(*clause)>>(clause->clone());
      cloned->addListener(copy.get());
      // The clone's own edits go into the clone's history, never into this view's.
      set_executioner(cloned.get(), copy.get());
      all.push_back(std::move(cloned));
    }
  };
  clone_clauses(m_ExceptionSpecifications, copy->m_ExceptionSpecifications);
  clone_clauses(m_Filters, copy->m_Filters);
  clone_clauses(m_Sorts, copy->m_Sorts);
  copy->update_active_specifications();
  copy->m_QueryProperties = m_QueryProperties;
  copy->m_nNextSortSolveOrder = m_nNextSortSolveOrder;
  copy->m_nNextFilterOrder = m_nNextFilterOrder;
  copy->m_nNextExceptionSolveOrder = m_nNextExceptionSolveOrder;
  copy->m_nNextQueryNumber.store(m_nNextQueryNumber.load());
  copy->m_nCurrentQueryNumber.store(m_nCurrentQueryNumber.load());
  return copy.release();
}

// ---------------------------------------------------------------------------------------------
// CubeView documents

void ViewpointCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  require_bound("persist");
  DOMElement* element = xml.addAChild(parent, "CubeView");
  XmlSupport::write_to(element, "xmlns:xsi", kSchemaInstance);
  XmlSupport::write_to(element, "xsi:schemaLocation", "./ cubeview.xsd");
  XmlSupport::write_to(element, "Version", kVersion);
  XmlSupport::write_to(element, "Guid", StringConverters::convertGUIDToString(m_Guid, false));
  m_QueryProperties.persist(xml, element);
  m_pCube->persistCalculatedMembers(xml, element);
  // Readers look for the element: a cube without calculated members still writes it.
  if (!XmlSupport::findChild(element, "CalculatedMembers")) xml.addAChild(element, "CalculatedMembers");
  DOMElement* axes = xml.addAChild(element, "Axes");
  for (const auto& axis : m_Axes) axis->persist(xml, axes);
  auto persist_list = [&](const char* name, const auto& clauses) {
    if (clauses.empty()) return;
    DOMElement* list = xml.addAChild(element, name);
    for (const auto& clause : clauses) clause->persist(xml, list);
  };
  persist_list("SortSpecifications", m_Sorts);
  persist_list("FilterSpecifications", m_Filters);
  persist_list("ExceptionSpecifications", m_ExceptionSpecifications);
  persist_parameters(xml, element);
}

// The values of the cube's prompts, as texts, so that a restored view asks the same question.
void ViewpointCommon::persist_parameters(XmlSupport& xml, DOMElement* element) const {
  if (!m_pCube || !m_pCube->supports(NUVA_o::Cube::SUPPORTS_PARAMETERS)) return;
  DOMElement* list = nullptr;
  for (const auto& parameter : m_pCube->getParameters()) {
    if (!parameter->hasAValue()) continue;
    if (!list) list = xml.addAChild(element, "Parameters");
    DOMElement* held = xml.addAChild(list, "Parameter");
    XmlSupport::write_to(held, "Name", parameter->getUniqueName());
    for (const auto& value : parameter->getParameterValues()) {
      if (value->getValueType() == NUVA_o::ParameterValue::PV_NONE) continue;
      XmlSupport::write_to(xml.addAChild(held, "ParameterValue"), "Text", parameterValueText(*value));
    }
  }
}

void ViewpointCommon::restore_parameters(DOMElement* element, std::vector<TOVAString>& repairs) {
  DOMElement* list = XmlSupport::findChild(element, "Parameters");
  if (!list || !m_pCube->supports(NUVA_o::Cube::SUPPORTS_PARAMETERS)) return;
  for (DOMElement* held : XmlSupport::getDescendantElementsByTagName(list, "Parameter")) {
    const TOVAString name = XmlSupport::getAttribute(held, "Name");
    auto_unuse<NUVA_o::Parameter> parameter(m_pCube->getParameterByName(name));
    if (!parameter) {
      repairs.push_back(record_repair(support::COMMON_R_PARAMETER_NOT_RESTORED,
                                      support::make<InvalidArgumentExceptionImpl>(
                                          moduleName(), support::COMMON_E_UNKNOWN_PARAMETER, name)
                                          .getMessage()));
      continue;
    }
    std::vector<TOVAString> texts;
    for (DOMElement* value : XmlSupport::getDescendantElementsByTagName(held, "ParameterValue"))
      texts.push_back(XmlSupport::getAttribute(value, "Text"));
    // The restored layout already shows these values: this view does not react to them.
    parameter->removeListener(this);
    try {
      setParameterValueTexts(*parameter, texts);
    } catch (const olap_api::ApiException& e) {
      repairs.push_back(record_repair(support::COMMON_R_PARAMETER_NOT_RESTORED, e.getMessage()));
    }
    parameter->addListener(this);
  }
}

TOVAString ViewpointCommon::toXML() const {
  KorvelSynchronizedRead lock(m_Lock);
  XmlSupport document;
  persist(document, nullptr);
  TOVAString text = document.getXml();
  viewpointLog().logAt(6, "Persisted XML:\n%s\n", text);
  return text;
}

void ViewpointCommon::restore(DOMElement* element, NUVA_o::Cube* cube) {
  if (!element) return;
  require_bound("restore");
  if (cube != m_pCube.get())
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_RESTORE_OTHER_CUBE);
  KorvelSynchronizedEdit edit(&m_Lock);
  try {
    restore_locked(element);
  } catch (const olap_api::ApiException&) {
    throw;
  } catch (const std::exception& e) {
    // Only the library's own exceptions leave it.
    support::raise<RunTimeExceptionImpl>(moduleName(), support::COMMON_E_RUN_TIME, e.what());
  }
}

void ViewpointCommon::restore_locked(DOMElement* element) {
  viewpointLog().logAt(4, "Restoring CubeView from XML...");
  viewpointLog().logAt(4, "Persistence version is %s", XmlSupport::getAttribute(element, "Version"));

  // Everything that refuses the whole document is checked before the view changes, so that a
  // refused document leaves the view as it was.
  const TOVAString guidText = XmlSupport::getAttribute(element, "Guid");
  GUID guid{};
  if (guidText.empty() || !StringConverters::convertStringToGUID(guidText, guid)) {
    InvalidXMLExceptionImpl e(moduleName(), support::COMMON_E_XML_ELEMENT);
    e.addStringInsert("Guid");
    e.addHandleInsert(guidText.empty() ? support::COMMON_M_XML_MISSING
                                       : support::COMMON_M_XML_NOT_A_GUID);
    e.addStringInsert("CubeView");
    e.log();
    throw e;
  }
  // Everything the view reads from the whole document, found in one walk.
  const std::vector<std::vector<DOMElement*>> found = XmlSupport::getDescendantElementsByTagNames(
      element, {"Axis", "CalculatedMembers", "Sort", "Filter", "ExceptionSpecification"});
  const std::vector<DOMElement*>& axisElements = found[0];
  const XMLSize_t axisCount = axisElements.size();
  viewpointLog().logAt(4, "CubeView definition has %u axes", unsigned(axisCount));
  if (axisCount == 0)
    support::raise<MalformedXMLExceptionImpl>(moduleName(), support::COMMON_E_NO_AXIS_ELEMENT);

  m_Guid = guid;
  NUVA_o::QueryPropertySetCommon properties;
  properties.restore(element, m_pCube.get());
  m_QueryProperties = properties;
  const std::vector<DOMElement*>& calculations = found[1];
  // A document without the element, or with several, is damaged input: the first one counts.
  if (!calculations.empty()) m_pCube->restoreCalculatedMembers(calculations[0]);

  std::vector<auto_unuse<NUVA_o::Axis>> axes;
  std::vector<TOVAString> repairs;
  // Before the axes: a hierarchy the cube lacks is found through a hierarchy prompt's value.
  restore_parameters(element, repairs);
  try {
    for (XMLSize_t i = 0; i < axisCount; ++i) {
      auto_unuse<NUVA_o::Axis> axis(
          AxisCommon::s_CreateAxisFromXML(axisElements[i], m_pCube.get(), this));
      const auto& details = axis->getRepairDetails();
      repairs.insert(repairs.end(), details.begin(), details.end());
      axes.push_back(std::move(axis));
    }
    check_layout(axes);
  } catch (...) {
    axes.clear();
    // Two view axes and the slice axes the document asked for, at least one.
    const unsigned sliceAxes = axisCount > 3 ? unsigned(std::min<XMLSize_t>(axisCount - 2, UINT_MAX - 2)) : 1;
    reset_content();
    initialize_all_to_default(2, sliceAxes);
    const TOVAString text = catalogue_text(support::COMMON_R_LAYOUT_RESET);
    viewpointLog().log(text, 3);
    m_RepairDetails.assign(1, text);
    dirty_viewpoint(true);
    throw;
  }

  auto restore_clauses = [&](const std::vector<DOMElement*>& list, auto make, uint32_t repairCode,
                             uint32_t& nextOrder, auto& all) {
    const XMLSize_t count = list.size();
    for (XMLSize_t i = 0; i < count; ++i) {
      try {
        auto clause = make();
        clause->restore(list[i], m_pCube.get());
        const auto order = uint32_t(clause->getSolveOrder());
        if (order >= nextOrder) nextOrder = order + 1;
        all.push_back(std::move(clause));
      } catch (const olap_api::ApiException& e) {
        repairs.push_back(record_repair(repairCode, e.getMessage()));
      } catch (const std::exception& e) {
        repairs.push_back(record_repair(repairCode, TOVAString(e.what())));
      }
    }
    return count;
  };
  std::vector<auto_unuse<NUVA_o::Sort>> sorts;
  std::vector<auto_unuse<NUVA_o::Filter>> filters;
  std::vector<auto_unuse<NUVA_o::ExceptionSpecification>> specifications;
  uint32_t nextSort = m_nNextSortSolveOrder, nextFilter = m_nNextFilterOrder,
           nextException = m_nNextExceptionSolveOrder;
  const XMLSize_t sortCount = restore_clauses(
      found[2], [] { return auto_unuse<NUVA_o::Sort>(new SortCommon()); },
      support::COMMON_R_SORT_DROPPED, nextSort, sorts);
  viewpointLog().logAt(4, "CubeView definition has %u sort specifications", unsigned(sortCount));
  const XMLSize_t filterCount = restore_clauses(
      found[3], [] { return auto_unuse<NUVA_o::Filter>(new FilterCommon()); },
      support::COMMON_R_FILTER_DROPPED, nextFilter, filters);
  viewpointLog().logAt(4, "CubeView definition has %u filter specifications", unsigned(filterCount));
  const XMLSize_t exceptionCount = restore_clauses(
      found[4],
      [] { return auto_unuse<NUVA_o::ExceptionSpecification>(new ExceptionSpecificationCommon()); },
      support::COMMON_R_EXCEPTION_SPECIFICATION_DROPPED, nextException, specifications);
  viewpointLog().logAt(4, "CubeView definition has %u exception specifications",
                       unsigned(exceptionCount));

  // The document is read: the view takes it over.
  reset_content();
  for (auto& axis : axes) {
    axis->addListener(this);
    m_Axes.push_back(std::move(axis));
  }
  auto install = [&](auto& from, auto& all) {
    for (auto& clause : from) {
      clause->addListener(this);
      set_executioner(clause.get(), this);
      all.push_back(std::move(clause));
    }
  };
  install(sorts, m_Sorts);
  install(filters, m_Filters);
  install(specifications, m_ExceptionSpecifications);
  m_nNextSortSolveOrder = nextSort;
  m_nNextFilterOrder = nextFilter;
  m_nNextExceptionSolveOrder = nextException;
  m_RepairDetails = std::move(repairs);
  update_active_specifications();
  cover_dimensions();
  dirty_viewpoint(true);
}

void ViewpointCommon::check_layout(const std::vector<auto_unuse<NUVA_o::Axis>>& axes) const {
  size_t views = 0, slices = 0;
  bool ordered = true;
  for (const auto& axis : axes) {
    if (axis->getAxisType() == NUVA_o::Axis::AT_VIEW) {
      ++views;
      ordered = ordered && slices == 0;
    } else {
      ++slices;
    }
  }
  if (views < 1 || views > 2 || slices < 1 || !ordered)
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_CUBE_VIEW_LAYOUT,
                                            views, slices);
}

void ViewpointCommon::reset_content() {
  for (auto& axis : m_Axes) axis->removeListener(this);
  m_Axes.clear();
  drop_clauses(m_Sorts, m_ActiveSorts);
  drop_clauses(m_Filters, m_ActiveFilters);
  drop_clauses(m_ExceptionSpecifications, m_ActiveExceptionSpecifications);
  m_RepairDetails.clear();
  // The history edits axes and clauses that are gone.
  m_pCommandManager = std::make_unique<ViewpointCommandManager>(10, &m_Lock);
}

void ViewpointCommon::cover_dimensions() {
  auto first = std::find_if(m_Axes.begin(), m_Axes.end(), [](const auto& axis) {
    return axis->getAxisType() == NUVA_o::Axis::AT_SLICE;
  });
  if (first == m_Axes.end()) {
    support_dll::AssertionFailure("firstSliceAxis", __FILE__, __LINE__);
    return;
  }
  const bool multiple = m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY);
  auto add = [&](NUVA_o::Hierarchy* hierarchy) {
    (*first)->addAxisHierarchy(hierarchy);
    m_RepairDetails.push_back(
        record_repair(support::COMMON_R_HIERARCHY_ADDED, hierarchy->getUniqueName()));
  };
  for (NUVA_o::Dimension* dimension : m_pCube->getDimensions()) {
    if (!dimension) continue;
    const auto& hierarchies = dimension->getHierarchies();
    auto placed = [&](NUVA_o::Hierarchy* hierarchy) {
      return hierarchy && find_axis_containing_hierarchy(hierarchy->getUniqueName());
    };
    if (multiple) {
      for (NUVA_o::Hierarchy* hierarchy : hierarchies)
        if (hierarchy && !placed(hierarchy)) add(hierarchy);
    } else if (std::none_of(hierarchies.begin(), hierarchies.end(), placed)) {
      if (NUVA_o::Hierarchy* hierarchy = dimension->getDefaultHierarchy())
        add(hierarchy);
      else
        support_dll::AssertionFailure("defaultHierarchy", __FILE__, __LINE__);
    }
  }
}

TOVAString ViewpointCommon::record_repair(uint32_t code, const TOVAString& insert) const {
  TOVAString text;
  support_dll::CoreLog::getLogObject()->get(text, code, 1, &insert);
  viewpointLog().log(text, 3);
  return text;
}

NUVA_o::ViewResultSet* ViewpointCommon::query() const {
  // The first test is cheap and lock-free for the common case of asking again; the second,
  // under the write lock, makes concurrent callers share one result set.
  if (auto_unuse<NUVA_o::ViewResultSet> held = held_result_set()) return held.release();
  KorvelSynchronizedWrite lock(m_Lock);
  if (auto_unuse<NUVA_o::ViewResultSet> held = held_result_set()) return held.release();

  const uint32_t number = m_nNextQueryNumber.fetch_add(1);
  m_nCurrentQueryNumber.store(number);
  auto_unuse<NUVA_o::ViewResultSet> closed;
  {
    KorvelSynchronized guard(m_ResultSetMutex);
    closed = std::move(m_pClosedResultSet);
  }
  viewpointLog().logAt(4, "Viewpoint[%u]: Executing query %u", getInstanceNumber(), number);
  if (!m_pDerivedViewpoint)
    support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_NO_PROVIDER_OBJECT);
  for (const auto& axis : m_Axes)
    if (axis->getAxisType() == NUVA_o::Axis::AT_VIEW && axis->getAxisHierarchies().empty())
      support::raise<CubeViewStateExceptionImpl>(moduleName(), support::COMMON_E_EMPTY_VIEW_AXIS);
  if (m_pDerivedViewpoint->isQueryTooLarge())
    support::raise<QueryTooLargeExceptionImpl>(moduleName(), support::COMMON_E_QUERY_TOO_LARGE);
  auto_unuse<NUVA_o::ViewResultSet> result(m_pDerivedViewpoint->executeQuery());
  if (!result)
    support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_NO_PROVIDER_OBJECT);

  auto* listener = static_cast<NUVA_o::ViewResultSet::ViewResultSetListener*>(
      const_cast<ViewpointCommon*>(this));
  listenersLog().logAt(
      {kSource, __LINE__, "common::ViewpointCommon::query"}, 5,
      "Viewpoint[%u]::query: Adding ViewResultSetListener interface %X to ViewResultSet[%u]",
      getInstanceNumber(), listener, instance_of(result.get()));
  result->addListener(listener);
  viewpointLog().logAt(4, "Viewpoint[%u]: Query %u execution complete", getInstanceNumber(),
                       number);
  m_pCommandManager->mark();
  {
    KorvelSynchronized guard(m_ResultSetMutex);
    m_pResultSet = auto_unuse<NUVA_o::ViewResultSet>::share(result.get());
  }
  return result.release();
}

auto_unuse<NUVA_o::ViewResultSet> ViewpointCommon::held_result_set() const {
  KorvelSynchronized guard(m_ResultSetMutex);
  return auto_unuse<NUVA_o::ViewResultSet>::share(m_pResultSet.get());
}

void ViewpointCommon::interrupt() {
  viewpointLog().logAt(4, "Viewpoint[%u]: Interrupting query %u", getInstanceNumber(),
                       m_nCurrentQueryNumber.load());
  if (m_pDerivedViewpoint) m_pDerivedViewpoint->interrupt();
}

void ViewpointCommon::revert() {
  require_bound("revert");
  viewpointLog().logAt(4, "Viewpoint[%u]: Reverting state...", getInstanceNumber());
  KorvelSynchronizedEdit edit(&m_Lock);
  if (!m_pCommandManager->revert()) {
    const char* reason = "no query was made";
    switch (m_pCommandManager->getRevertRefusal()) {
      case ViewpointCommandManager::RR_UNCHANGED_SINCE_MARK:
        reason = "nothing was edited since the last query";
        break;
      case ViewpointCommandManager::RR_MARK_GONE:
        reason = "the last query is no longer in the history";
        break;
      default:
        break;
    }
    support::raise<CubeViewStateExceptionImpl>(moduleName(), support::COMMON_W_NOTHING_TO_REVERT,
                                               reason);
  }
  dirty_viewpoint(true);
}

void ViewpointCommon::execute(ViewpointCommand* command) {
  require_bound("execute");
  KorvelSynchronizedEdit edit(&m_Lock);
  m_pCommandManager->execute(command);
}

TOVAString ViewpointCommon::resolve_hierarchy_name(const TOVAString& name) const {
  auto_unuse<NUVA_o::Hierarchy> hierarchy(m_pCube->getHierarchyByUniqueName(name));
  return hierarchy ? hierarchy->getUniqueName() : TOVAString();
}

void ViewpointCommon::moveAxisHierarchy(const NUVA_o::AxisHierarchy* axisHierarchy,
                                        NUVA_o::Axis* axis, unsigned position) {
  require_bound("moveAxisHierarchy");
  KorvelSynchronizedEdit edit(&m_Lock);
  const TOVAString name = axisHierarchy ? axisHierarchy->getUniqueName() : TOVAString();
  if (!axisHierarchy || !find_axis_containing_hierarchy(name))
    support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                 support::COMMON_E_HIERARCHY_NOT_PLACED, name);
  moveAxisHierarchy(name, axis, position);
}

void ViewpointCommon::moveAxisHierarchy(const TOVAString& uniqueName, NUVA_o::Axis* axis,
                                        unsigned position) {
  require_bound("moveAxisHierarchy");
  KorvelSynchronizedEdit edit(&m_Lock);
  auto target = std::find(m_Axes.begin(), m_Axes.end(), axis);
  if (!axis || target == m_Axes.end())
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  // The view compares names exactly: another spelling of a placed hierarchy would otherwise
  // count as on no axis and be placed twice.
  const TOVAString name = resolve_hierarchy_name(uniqueName);
  if (name.empty())
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_UNKNOWN_HIERARCHY,
                                                 uniqueName);
  auto_unuse<MoveAxisHierarchyCommand> command(new MoveAxisHierarchyCommand(
      this, name, uint32_t(target - m_Axes.begin()), position));
  execute(command.get());
}

void ViewpointCommon::swapAxisHierarchies(const NUVA_o::AxisHierarchy* first,
                                          const NUVA_o::AxisHierarchy* second) {
  require_bound("swapAxisHierarchies");
  KorvelSynchronizedEdit edit(&m_Lock);
  for (const NUVA_o::AxisHierarchy* one : {first, second}) {
    const TOVAString name = one ? one->getUniqueName() : TOVAString();
    if (!one || !find_axis_containing_hierarchy(name))
      support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                                   support::COMMON_E_HIERARCHY_NOT_PLACED, name);
  }
  swapAxisHierarchies(first->getUniqueName(), second->getUniqueName());
}

void ViewpointCommon::swapAxisHierarchies(const TOVAString& firstName,
                                          const TOVAString& secondName) {
  require_bound("swapAxisHierarchies");
  KorvelSynchronizedEdit edit(&m_Lock);
  auto_unuse<NUVA_o::Hierarchy> one(m_pCube->getHierarchyByUniqueName(firstName));
  auto_unuse<NUVA_o::Hierarchy> other(m_pCube->getHierarchyByUniqueName(secondName));
  if (!one || !other)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                 "swapAxisHierarchies", "CubeView", one ? 2 : 1);
  // Only the hierarchies' own names are compared with what the axes hold.
  const TOVAString& first = one->getUniqueName();
  const TOVAString& second = other->getUniqueName();
  const bool firstPlaced = find_axis_containing_hierarchy(first) != nullptr;
  const bool secondPlaced = find_axis_containing_hierarchy(second) != nullptr;
  if (!m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY) &&
      firstPlaced != secondPlaced) {
    // One of them comes onto the axes in place of the other: they must be of one dimension.
    const TOVAString& dimension = one->getDimension()->getUniqueName();
    if (dimension != other->getDimension()->getUniqueName())
      support::raise<CubeViewStateExceptionImpl>(moduleName(),
                                                 support::COMMON_E_DIFFERENT_DIMENSIONS, dimension);
  }
  auto_unuse<SwapAxisHierarchiesCommand> command(
      new SwapAxisHierarchiesCommand(this, first, second));
  execute(command.get());
}

void ViewpointCommon::swapAxes(NUVA_o::Axis* first, NUVA_o::Axis* second) {
  require_bound("swapAxes");
  KorvelSynchronizedEdit edit(&m_Lock);
  if (!viewpoint_contains_axis(first) || !viewpoint_contains_axis(second))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  auto_unuse<SwapAxesCommand> command(new SwapAxesCommand(this, first, second));
  execute(command.get());
}

// ---------------------------------------------------------------------------------------------
// Moving and swapping, as the commands run them

void ViewpointCommon::internal_move_axis_hierarchy(const TOVAString& uniqueName,
                                                   NUVA_o::Axis* axis, unsigned position) {
  viewpointLog().logAt(4, "Moving hierarchy %s to position %ld on axis %ld", uniqueName,
                       long(position), long(instance_of(axis)));
  if (!viewpoint_contains_axis(axis))
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  NUVA_o::Axis* source = find_axis_containing_hierarchy(uniqueName);
  if (source == axis)
    move_within_axis(uniqueName, axis, position);
  else if (source)
    move_between_axes(uniqueName, source, axis, position);
  else
    place_from_cube(uniqueName, axis, position);
  update_active_specifications();
  dirty_viewpoint(true);
}

namespace {

// A position past what the axis takes is reported and clamped rather than refused: the move
// goes on, as callers of the view expect.
unsigned clamped_position(unsigned position, size_t last, const char* expression, int line) {
  if (position <= last) return position;
  support_dll::AssertionFailure(expression, __FILE__, line);
  viewpointLog().logAt(6, "Altering invalid axis hierarchy position argument from %u to %u",
                       position, unsigned(last));
  return unsigned(last);
}

}  // namespace

void ViewpointCommon::move_within_axis(const TOVAString& uniqueName, NUVA_o::Axis* axis,
                                       unsigned position) {
  const size_t count = axis->getAxisHierarchies().size();
  if (count <= 1) return;
  position = clamped_position(position, count - 1,
                              "nIndex < pAxis->getAxisHierarchies( ).size( )", __LINE__);
  axis->moveAxisHierarchy(uniqueName, position);
}

void ViewpointCommon::move_between_axes(const TOVAString& uniqueName, NUVA_o::Axis* source,
                                        NUVA_o::Axis* axis, unsigned position) {
  if (source->getAxisHierarchies().size() == 1 && source->getAxisType() == NUVA_o::Axis::AT_VIEW)
    viewpointLog().logAt(4, "Moving AxisHierarchy %s leaves Axis %u in an empty state",
                         uniqueName, instance_of(source));
  position = clamped_position(position, axis->getAxisHierarchies().size(),
                              "nIndex <= pAxis->getAxisHierarchies( ).size( )", __LINE__);
  auto_unuse<NUVA_o::AxisHierarchy> moved(source->removeAxisHierarchy(uniqueName));
  axis->addAxisHierarchy(moved.get(), position);
  // What the hierarchy contributes changes with the kind of axis: members on a view axis, one
  // slice on a slice axis.
  if (source->getAxisType() == axis->getAxisType()) {
    if (axis->isHidden() && !source->isHidden()) moved->resetActiveSlice();
  } else if (source->getAxisType() == NUVA_o::Axis::AT_VIEW) {
    moved->resetActiveViewMemberSet();
  } else {
    moved->resetActiveSlice();
  }
}

void ViewpointCommon::place_from_cube(const TOVAString& uniqueName, NUVA_o::Axis* axis,
                                      unsigned position) {
  auto_unuse<NUVA_o::Hierarchy> hierarchy(m_pCube->getHierarchyByUniqueName(uniqueName));
  if (!hierarchy)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_UNKNOWN_HIERARCHY,
                                                 uniqueName);
  if (!m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY))
    remove_other_hierarchy_of_dimension(*hierarchy, uniqueName, axis, position);
  // The axis refuses a position past its end; clamped here so that a hierarchy pushed off
  // above is never lost without its replacement arriving.
  position = clamped_position(position, axis->getAxisHierarchies().size(),
                              "nIndex <= pAxis->getAxisHierarchies( ).size( )", __LINE__);
  axis->addAxisHierarchy(hierarchy.get(), position);
}

void ViewpointCommon::remove_other_hierarchy_of_dimension(const NUVA_o::Hierarchy& hierarchy,
                                                          const TOVAString& uniqueName,
                                                          NUVA_o::Axis* axis,
                                                          unsigned& position) {
  const TOVAString& dimension = hierarchy.getDimension()->getUniqueName();
  for (unsigned a = 0; a < m_Axes.size(); ++a) {
    NUVA_o::Axis* holder = m_Axes[a].get();
    const auto& placed = holder->getAxisHierarchies();
    for (unsigned p = 0; p < placed.size(); ++p) {
      if (placed[p]->getHierarchy()->getDimension()->getUniqueName() != dimension) continue;
      const TOVAString name = placed[p]->getUniqueName();
      viewpointLog().logAt(4,
                           "ViewpointCommon[%u]: Removing AxisHierarchy %s from Axis %u due "
                           "to mutually exclusive hierarchy restrictions (adding hierarchy "
                           "%s)",
                           getInstanceNumber(), name, a, uniqueName);
      if (holder == axis && position > p) --position;
      auto_unuse<NUVA_o::AxisHierarchy> dropped(holder->removeAxisHierarchy(name));
      return;
    }
  }
}

void ViewpointCommon::internal_swap_axis_hierarchies(const TOVAString& first,
                                                     const TOVAString& second) {
  if (first == second) return;
  auto_unuse<NUVA_o::Hierarchy> firstHierarchy(m_pCube->getHierarchyByUniqueName(first));
  auto_unuse<NUVA_o::Hierarchy> secondHierarchy(m_pCube->getHierarchyByUniqueName(second));
  if (!firstHierarchy || !secondHierarchy)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                 "swapAxisHierarchies", "CubeView",
                                                 firstHierarchy ? 2 : 1);
  NUVA_o::Axis* firstAxis = find_axis_containing_hierarchy(first);
  NUVA_o::Axis* secondAxis = find_axis_containing_hierarchy(second);
  if (!firstAxis && !secondAxis) return;
  const unsigned firstPosition = firstAxis ? firstAxis->getAxisHierarchyPosition(first) : 0;
  const unsigned secondPosition = secondAxis ? secondAxis->getAxisHierarchyPosition(second) : 0;

  auto_unuse<NUVA_o::AxisHierarchy> firstMoved(
      firstAxis ? firstAxis->removeAxisHierarchy(first) : nullptr);
  if (secondAxis) {
    if (firstMoved)
      secondAxis->addAxisHierarchy(firstMoved.get(), secondPosition);
    else
      secondAxis->addAxisHierarchy(firstHierarchy.get(), secondPosition);
  }
  auto_unuse<NUVA_o::AxisHierarchy> secondMoved(
      secondAxis ? secondAxis->removeAxisHierarchy(second) : nullptr);
  if (firstAxis) {
    if (secondMoved)
      firstAxis->addAxisHierarchy(secondMoved.get(), firstPosition);
    else
      firstAxis->addAxisHierarchy(secondHierarchy.get(), firstPosition);
  }

  if (firstMoved && secondMoved) {
    if (firstAxis->getAxisType() == secondAxis->getAxisType()) {
      if (firstAxis->isHidden() != secondAxis->isHidden())
        (secondAxis->isHidden() ? firstMoved : secondMoved)->resetActiveSlice();
    } else {
      // Each reset follows where the hierarchy came from.
      for (auto* moved : {&firstMoved, &secondMoved}) {
        NUVA_o::Axis* from = moved == &firstMoved ? firstAxis : secondAxis;
        if (from->getAxisType() == NUVA_o::Axis::AT_VIEW)
          (*moved)->resetActiveViewMemberSet();
        else
          (*moved)->resetActiveSlice();
      }
    }
  }
  update_active_specifications();
  dirty_viewpoint(true);
}

void ViewpointCommon::internal_swap_axes(NUVA_o::Axis* first, NUVA_o::Axis* second) {
  if (!first || !second || first->getUniqueName() == second->getUniqueName()) return;
  // The original objects change places: commands and callers that hold them keep valid
  // references.
  const std::vector<auto_unuse<NUVA_o::AxisHierarchy>> firstHierarchies =
      first->getAxisHierarchies();
  const std::vector<auto_unuse<NUVA_o::AxisHierarchy>> secondHierarchies =
      second->getAxisHierarchies();
  first->clearAxisHierarchies();
  second->clearAxisHierarchies();
  for (unsigned i = 0; i < firstHierarchies.size(); ++i)
    second->addAxisHierarchy(firstHierarchies[i].get(), i);
  for (unsigned i = 0; i < secondHierarchies.size(); ++i)
    first->addAxisHierarchy(secondHierarchies[i].get(), i);
  if (first->getAxisType() == NUVA_o::Axis::AT_VIEW &&
      second->getAxisType() == NUVA_o::Axis::AT_VIEW) {
    const std::vector<auto_unuse<NUVA_o::DynamicCalculation>> firstCalculations =
        first->getDynamicCalculations();
    const std::vector<auto_unuse<NUVA_o::DynamicCalculation>> secondCalculations =
        second->getDynamicCalculations();
    first->clearDynamicCalculations();
    second->clearDynamicCalculations();
    for (const auto& calculation : firstCalculations) second->addDynamicCalculation(calculation.get());
    for (const auto& calculation : secondCalculations) first->addDynamicCalculation(calculation.get());
  }
  // A clause is active on the axis that holds its hierarchies, which has just changed.
  update_active_specifications();
  dirty_viewpoint(true);
}

NUVA_o::Sort* ViewpointCommon::addSort(const NUVA_o::Tuple* tuple,
                                       NUVA_o::Sort::Direction direction, bool) {
  require_bound("addSort");
  KorvelSynchronizedEdit edit(&m_Lock);
  if (!tuple) support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_SORT_NEEDS_TUPLE);
  if (direction < NUVA_o::Sort::SD_ASCENDING || direction > NUVA_o::Sort::SD_BDESC)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_UNKNOWN_DIRECTION,
                                                 int(direction));
  viewpointLog().logAt(4, "CubeView[%u]: Adding Sort specification with solve order %u",
                       getInstanceNumber(), m_nNextSortSolveOrder);
  auto_unuse<SortCommon> sort(new SortCommon(tuple));
  sort->setDirection(direction);
  sort->setSolveOrder(int(m_nNextSortSolveOrder++));
  auto_unuse<AddSortCommand> command(new AddSortCommand(this, sort.get()));
  execute(command.get());
  return sort.release();
}

void ViewpointCommon::removeSort(const NUVA_o::Sort* sort) {
  if (!sort) return;
  require_bound("removeSort");
  KorvelSynchronizedEdit edit(&m_Lock);
  viewpointLog().logAt(4, "CubeView[%u]: Removing Sort specification with solve order %u",
                       getInstanceNumber(), unsigned(sort->getSolveOrder()));
  auto_unuse<RemoveSortCommand> command(new RemoveSortCommand(this, sort));
  execute(command.get());
}

void ViewpointCommon::check_condition(const NUVA_o::Expression* expression) const {
  if (!expression || expression->getType() == NUVA_o::Expression::ET_EMPTY)
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_BAD_EXPRESSION);
  if (expression->getType() == NUVA_o::Expression::ET_NATIVE)
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_NATIVE_EXPRESSION);
}

namespace {
TOVAString text_of(const NUVA_o::Expression* expression) {
  return expression ? const_cast<NUVA_o::Expression*>(expression)->getTextFromTree() : TOVAString();
}
}  // namespace

NUVA_o::Filter* ViewpointCommon::addFilter(const NUVA_o::Tuple* tuple,
                                           const NUVA_o::Expression* expression) {
  require_bound("addFilter");
  KorvelSynchronizedEdit edit(&m_Lock);
  if (!tuple) support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_FILTER_NEEDS_TUPLE);
  check_condition(expression);
  viewpointLog().logAt(4, "CubeView[%u]: Adding Filter specification with expression '%s' and order %u",
                       getInstanceNumber(), text_of(expression), m_nNextFilterOrder);
  auto_unuse<FilterCommon> filter(new FilterCommon(tuple, expression));
  filter->setSolveOrder(int(m_nNextFilterOrder++));
  auto_unuse<AddFilterCommand> command(new AddFilterCommand(this, filter.get()));
  execute(command.get());
  return filter.release();
}

void ViewpointCommon::removeFilter(const NUVA_o::Filter* filter) {
  if (!filter) return;
  require_bound("removeFilter");
  KorvelSynchronizedEdit edit(&m_Lock);
  viewpointLog().logAt(4, [&] {
    auto_unuse<NUVA_o::Expression> expression(filter->getExpression());
    return TOVAString().build(
        "CubeView[%u]: Removing Filter specification with expression '%s' and order %u",
        getInstanceNumber(), text_of(expression.get()), unsigned(filter->getSolveOrder()));
  });
  auto_unuse<RemoveFilterCommand> command(new RemoveFilterCommand(this, filter));
  execute(command.get());
}

NUVA_o::ExceptionSpecification* ViewpointCommon::addExceptionSpecification(
    const NUVA_o::Tuple* tuple, const NUVA_o::Expression* expression, int banding) {
  require_bound("addExceptionSpecification");
  KorvelSynchronizedEdit edit(&m_Lock);
  check_condition(expression);
  viewpointLog().logAt(4,
                       "CubeView[%u]: Adding Exception specification with expression '%s' and "
                       "solve order %u",
                       getInstanceNumber(), text_of(expression), m_nNextExceptionSolveOrder);
  auto_unuse<ExceptionSpecificationCommon> specification(
      new ExceptionSpecificationCommon(tuple, expression));
  specification->setBanding(banding);
  specification->setSolveOrder(int(m_nNextExceptionSolveOrder++));
  auto_unuse<AddExceptionSpecificationCommand> command(
      new AddExceptionSpecificationCommand(this, specification.get()));
  execute(command.get());
  return specification.release();
}

void ViewpointCommon::removeExceptionSpecification(
    const NUVA_o::ExceptionSpecification* specification) {
  if (!specification) return;
  require_bound("removeExceptionSpecification");
  KorvelSynchronizedEdit edit(&m_Lock);
  viewpointLog().logAt(4, [&] {
    auto_unuse<NUVA_o::Expression> expression(specification->getExpression());
    return TOVAString().build(
        "CubeView[%u]: Removing Exception specification with expression '%s' and solve order %u",
        getInstanceNumber(), text_of(expression.get()), unsigned(specification->getSolveOrder()));
  });
  auto_unuse<RemoveExceptionSpecificationCommand> command(
      new RemoveExceptionSpecificationCommand(this, specification));
  execute(command.get());
}

template <class T>
void ViewpointCommon::internal_add_clause(T* clause, std::vector<auto_unuse<T>>& all,
                                          std::vector<auto_unuse<T>>& active) {
  if (!clause) return;
  clause->addListener(this);
  set_executioner(clause, this);
  all.push_back(auto_unuse<T>::share(clause));
  update_active(all, active);
  if (clause->isActive()) dirty_viewpoint(true);
}

template <class T>
void ViewpointCommon::internal_remove_clause(T* clause, std::vector<auto_unuse<T>>& all,
                                             std::vector<auto_unuse<T>>& active) {
  if (!clause) return;
  clause->removeListener(this);
  set_executioner(clause, nullptr);
  if (clause->isActive()) dirty_viewpoint(true);
  auto found = std::find(all.begin(), all.end(), clause);
  if (found == all.end()) return;
  all.erase(found);
  update_active(all, active);
}

void ViewpointCommon::internal_add_sort(NUVA_o::Sort* sort) {
  internal_add_clause(sort, m_Sorts, m_ActiveSorts);
}
void ViewpointCommon::internal_remove_sort(NUVA_o::Sort* sort) {
  internal_remove_clause(sort, m_Sorts, m_ActiveSorts);
}
void ViewpointCommon::internal_add_filter(NUVA_o::Filter* filter) {
  internal_add_clause(filter, m_Filters, m_ActiveFilters);
}
void ViewpointCommon::internal_remove_filter(NUVA_o::Filter* filter) {
  internal_remove_clause(filter, m_Filters, m_ActiveFilters);
}
void ViewpointCommon::internal_add_exception_specification(
    NUVA_o::ExceptionSpecification* specification) {
  internal_add_clause(specification, m_ExceptionSpecifications, m_ActiveExceptionSpecifications);
}
void ViewpointCommon::internal_remove_exception_specification(
    NUVA_o::ExceptionSpecification* specification) {
  internal_remove_clause(specification, m_ExceptionSpecifications,
                         m_ActiveExceptionSpecifications);
}

// ---------------------------------------------------------------------------------------------
// Query properties

void ViewpointCommon::addQueryProperty(NUVA_o::QueryProperty property) {
  KorvelSynchronizedWrite lock(m_Lock);
  if (is_member_level_property(property)) {
    for (auto& axis : m_Axes)
      for (auto& axisHierarchy : axis->getAxisHierarchies()) {
        auto_unuse<NUVA_o::MemberSet> set(axisHierarchy->getViewMemberSet());
        set->addQueryProperty(property);
      }
  }
  if (!m_QueryProperties.insert(property).second) return;
  cubeViewLog().logAt({kSource, __LINE__, "common::ViewpointCommon::addQueryProperty"}, 4,
                      "Adding QueryProperty %s", getQueryPropertyName(property));
  dirty_viewpoint(true);
}

void ViewpointCommon::removeQueryProperty(NUVA_o::QueryProperty property) {
  KorvelSynchronizedWrite lock(m_Lock);
  if (m_QueryProperties.find(property) == m_QueryProperties.end()) return;
  cubeViewLog().logAt({kSource, __LINE__, "common::ViewpointCommon::removeQueryProperty"}, 4,
                      "Removing QueryProperty %s", getQueryPropertyName(property));
  m_QueryProperties.erase(property);
  dirty_viewpoint(true);
}

bool ViewpointCommon::hasQueryProperty(NUVA_o::QueryProperty property) const {
  KorvelSynchronizedRead lock(m_Lock);
  return _hasQueryProperty(property);
}

bool ViewpointCommon::_hasQueryProperty(NUVA_o::QueryProperty property) const {
  return m_QueryProperties.count(property) != 0;
}

// ---------------------------------------------------------------------------------------------
// Dirty state, lookups and clause activity

void ViewpointCommon::dirty_viewpoint(bool removeListener) {
  viewpointLog().logAt(5, "Viewpoint[%u]::dirty_query(%d)", getInstanceNumber(),
                       int(removeListener));
  if (m_pDerivedViewpoint) m_pDerivedViewpoint->dirty();
  if (removeListener) return drop_result_sets("dirty_query");
  // The result set is announcing its closing and is still inside that notification: park it
  // rather than release what may be its last reference under its own feet.
  auto_unuse<NUVA_o::ViewResultSet> previous;  // released after the guard below
  KorvelSynchronized guard(m_ResultSetMutex);
  previous = std::move(m_pClosedResultSet);
  if (m_pResultSet) m_pClosedResultSet = std::move(m_pResultSet);
}

void ViewpointCommon::drop_result_sets(const char* caller) {
  auto_unuse<NUVA_o::ViewResultSet> held, closed;
  {
    KorvelSynchronized guard(m_ResultSetMutex);
    held = std::move(m_pResultSet);
    closed = std::move(m_pClosedResultSet);
  }
  // Outside the mutex: the result set may be notifying on another thread and make us wait.
  if (held) {
    listenersLog().logAt({kSource, __LINE__, "common::ViewpointCommon::drop_result_sets"}, 5,
                         "Viewpoint[%u]::%s: Removing ViewResultSetListener interface %X from "
                         "ViewResultSet[%u]",
                         getInstanceNumber(), caller,
                         static_cast<NUVA_o::ViewResultSet::ViewResultSetListener*>(this),
                         instance_of(held.get()));
    held->removeListener(this);
  }
}

bool ViewpointCommon::viewpoint_contains_axis(const NUVA_o::Axis* axis) const {
  return axis && std::find(m_Axes.begin(), m_Axes.end(), axis) != m_Axes.end();
}

NUVA_o::Axis* ViewpointCommon::find_axis_containing_hierarchy(const TOVAString& uniqueName) const {
  for (auto& axis : m_Axes)
    if (axis->getAxisHierarchyPosition(uniqueName) != support::NO_POSITION) return axis.get();
  return nullptr;
}

NUVA_o::SubTotal* ViewpointCommon::find_subtotal(const TOVAString& uniqueName,
                                                 unsigned& axis) const {
  for (unsigned i = 0; i < m_Axes.size(); ++i)
    for (auto& subTotal : m_Axes[i]->getAxisSubTotals())
      if (subTotal->getUniqueName() == uniqueName) {
        axis = i;
        return subTotal.get();
      }
  return nullptr;
}

NUVA_o::DynamicCalculation* ViewpointCommon::find_dynamic_calculation(const TOVAString& uniqueName,
                                                                      unsigned& axis) const {
  for (unsigned i = 0; i < m_Axes.size(); ++i)
    for (auto& calculation : m_Axes[i]->getDynamicCalculations())
      if (calculation->getUniqueName() == uniqueName) {
        axis = i;
        return calculation.get();
      }
  return nullptr;
}

ClauseActivityScope ViewpointCommon::optional_clause_active(
    const NUVA_o::OptionalCubeViewClause* clause, unsigned& axis) const {
  axis = support::NO_POSITION;
  auto_unuse<NUVA_o::Tuple> tuple(clause ? clause->getTuple() : nullptr);
  if (!tuple) return CAS_VIEW;
  unsigned found = support::NO_POSITION;
  size_t calculations = 0;
  bool referenced = false;
  for (const TOVAString& name : tuple->getDynamicCalculationUniqueNames()) {
    referenced = true;
    unsigned at = 0;
    NUVA_o::DynamicCalculation* calculation = find_dynamic_calculation(name, at);
    if (!calculation || !calculation->isActive()) return CAS_INACTIVE;
    if (found != support::NO_POSITION && found != at) return CAS_INACTIVE;
    found = at;
    ++calculations;
  }
  for (const TOVAString& name : tuple->getSubTotalUniqueNames()) {
    referenced = true;
    unsigned at = 0;
    NUVA_o::SubTotal* subTotal = find_subtotal(name, at);
    if (!subTotal) return CAS_INACTIVE;
    if (subTotal->getPosition() == 0 || subTotal->getPosition() == 1) {
      axis = at;
      return CAS_AXIS;
    }
    if (found != support::NO_POSITION && found != at) return CAS_INACTIVE;
    found = at;
  }
  const std::vector<TOVAString> names = tuple->getHierarchyUniqueNames();
  if (names.empty() && referenced) {
    axis = found;
    return CAS_AXIS;
  }
  ClauseActivityScope scope = CAS_INACTIVE;
  for (unsigned i = 0; i < m_Axes.size(); ++i) {
    const NUVA_o::Axis* candidate = m_Axes[i].get();
    if (candidate->getAxisType() != NUVA_o::Axis::AT_VIEW) continue;
    if (names.size() + calculations != candidate->getAxisHierarchies().size()) continue;
    bool all = true;
    for (const TOVAString& name : names)
      if (candidate->getAxisHierarchyPosition(name) == support::NO_POSITION) all = false;
    if (all) {
      axis = i;
      scope = CAS_AXIS;
    }
  }
  return scope;
}

template <class T>
void ViewpointCommon::update_active(const std::vector<auto_unuse<T>>& all,
                                    std::vector<auto_unuse<T>>& active) {
  active.clear();
  for (auto& clause : all) {
    unsigned axis = 0;
    clause->setActive(optional_clause_active(clause.get(), axis) != CAS_INACTIVE);
    if (clause->isActive()) active.push_back(clause);
  }
}

void ViewpointCommon::update_active_specifications() {
  update_active(m_Sorts, m_ActiveSorts);
  update_active(m_Filters, m_ActiveFilters);
  update_active(m_ExceptionSpecifications, m_ActiveExceptionSpecifications);
}

template <class T>
std::vector<auto_unuse<T>> ViewpointCommon::active_on_axis(const std::vector<auto_unuse<T>>& all,
                                                           unsigned axis) const {
  std::vector<auto_unuse<T>> result;
  for (auto& clause : all) {
    unsigned at = 0;
    if (!clause->isDisabled() && optional_clause_active(clause.get(), at) == CAS_AXIS && at == axis)
      result.push_back(clause);
  }
  return result;
}

std::vector<auto_unuse<NUVA_o::Sort>> ViewpointCommon::getActiveSorts(unsigned axis) const {
  return active_on_axis(m_Sorts, axis);
}
std::vector<auto_unuse<NUVA_o::Filter>> ViewpointCommon::getActiveFilters(unsigned axis) const {
  return active_on_axis(m_Filters, axis);
}
std::vector<auto_unuse<NUVA_o::ExceptionSpecification>>
ViewpointCommon::getActiveExceptionSpecifications(unsigned axis) const {
  return active_on_axis(m_ExceptionSpecifications, axis);
}

// ---------------------------------------------------------------------------------------------
// Listener faces

bool ViewpointCommon::connectionClosing() {
  // Leave the connection listeners too: a view that stayed registered after its cube closed
  // would be called again after its death by the next close.
  disconnect(true);
  return true;
}

NUVA_o::Calculation::CalculationEventHandler* ViewpointCommon::doYouCareAboutThis(
    NUVA_o::Calculation*) {
  use();
  return this;
}

void ViewpointCommon::stopListening() {
  support_dll::AssertionFailure("! \"ViewpointCommon::stopListening\"", __FILE__, __LINE__);
}

void ViewpointCommon::axisChanged(const NUVA_o::Axis* axis, AxisEvent event) {
  if (event == AE_AXIS_DESTROYED) {
    support_dll::AssertionFailure("Axis::AxisListener::AE_AXIS_DESTROYED != event", __FILE__,
                                  __LINE__);
  } else if (event == AE_PROPERTY_CHANGED && axis && axis->isHidden()) {
    for (auto& axisHierarchy : axis->getAxisHierarchies()) axisHierarchy->resetActiveSlice();
  } else if (event >= AE_SUBTOTAL_ADDED && event <= AE_DYNAMIC_CALCULATION_CHANGED) {
    // Clauses that name a subtotal or calculation are in force only while it is.
    update_active_specifications();
  }
  dirty_viewpoint(true);
}

void ViewpointCommon::executingCommand(const NUVA_o::MemberSetCommand* command) {
  if (m_pCommandManager) m_pCommandManager->recordMemberSetCommand(command);
}

void ViewpointCommon::optionalCubeViewClauseChanged(const NUVA_o::OptionalCubeViewClause* clause) {
  if (!clause) return;
  auto listed = [clause](const auto& active) {
    return std::any_of(active.begin(), active.end(),
                       [clause](const auto& held) { return held.get() == clause; });
  };
  // Enabling or disabling changes the active lists; a change of a clause that was or is now
  // in force changes the result.
  const bool wasActive = listed(m_ActiveSorts) || listed(m_ActiveFilters) ||
                         listed(m_ActiveExceptionSpecifications);
  update_active_specifications();
  if (wasActive || clause->isActive()) dirty_viewpoint(true);
}

void ViewpointCommon::viewResultSetClosed() {
  viewpointLog().logAt(5, "Viewpoint[%u]::viewResultSetClosed", getInstanceNumber());
  dirty_viewpoint(false);
}

void ViewpointCommon::removeSpecs(const NUVA_o::Calculation* calculation) {
  if (!calculation) return;
  const TOVAString& name = calculation->getUniqueName();
  bool erased = false;
  auto drop = [&](auto& all) {
    for (size_t i = 0; i < all.size();) {
      auto_unuse<NUVA_o::Tuple> tuple(all[i]->getTuple());
      if (tuple && tuple->contains(name)) {
        all[i]->removeListener(this);
        set_executioner(all[i].get(), nullptr);
        all.erase(all.begin() + i);
        erased = true;
      } else {
        ++i;
      }
    }
  };
  drop(m_Sorts);
  drop(m_Filters);
  drop(m_ExceptionSpecifications);
  if (erased) update_active_specifications();
  for (auto& axis : m_Axes) axis->calculationRemoved(calculation);
  dirty_viewpoint(true);
}

}  // namespace common

extern "C" NUVA_o::Viewpoint* createCommonViewpoint() {
  return new (std::nothrow) common::ViewpointCommon();
}

// ---------------------------------------------------------------------------------------------
// Parameters

namespace common {

namespace {

void log_slice_change(const char* format, const TOVAString& hierarchy, const TOVAString& member,
                      const NUVA_o::Parameter& parameter) {
  viewpointLog().logAt(4, format, hierarchy, member, parameter.getUniqueName());
}

// The member unique name a member parameter's first value names; empty for no value.
TOVAString member_name_of(const NUVA_o::Parameter& parameter) {
  if (!parameter.hasAValue()) return TOVAString();
  auto values = parameter.getParameterValues();
  const NUVA_o::ParameterValue& value = *values.front();
  if (value.getValueType() == NUVA_o::ParameterValue::PV_STRING) return value.getStringValue();
  auto_unuse<NUVA_o::Member> member(value.getMemberValue());
  return member ? member->getUniqueName() : TOVAString();
}

}  // namespace

void ViewpointCommon::parameterChanged(NUVA_o::Parameter* parameter) {
  if (!parameter || !m_pCube) return;
  dirty_viewpoint(true);
  switch (parameter->getType()) {
    case NUVA_o::Parameter::PT_HIERARCHY:
      return swap_for_hierarchy_parameter(*parameter);
    case NUVA_o::Parameter::PT_KEYDATE:
      return reset_for_key_date(*parameter);
    default:
      return move_slices_for_parameter(*parameter);
  }
}

void ViewpointCommon::swap_for_hierarchy_parameter(NUVA_o::Parameter& parameter) {
  auto values = parameter.hasAValue() ? parameter.getParameterValues() : parameter.getParameterDefaultValues();
  if (values.size() != 1)
    support_dll::AssertionFailure("pParam->getParameterValues( ).size( ) == 1", __FILE__, __LINE__);
  if (values.empty()) return;
  const TOVAString newName = values.front()->getStringValue();
  if (newName.empty()) {
    support_dll::AssertionFailure("newAxisHierarchy.size( ) > 0", __FILE__, __LINE__);
    return;
  }
  // Looked up before anything moves: an unknown hierarchy leaves the old one in its place.
  auto_unuse<NUVA_o::Hierarchy> hierarchy(m_pCube->getHierarchyByUniqueName(newName));
  if (!hierarchy) {
    support::make<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_UNKNOWN_HIERARCHY,
                                                parameter.getUniqueName(), newName)
        .log();
    return;
  }
  const TOVAString& dimension = parameter.getDimensionUniqueName();
  for (const auto& axis : m_Axes) {
    for (const auto& axisHierarchy : axis->getAxisHierarchies()) {
      if (axisHierarchy->getHierarchy()->getDimension()->getUniqueName() != dimension) continue;
      const TOVAString oldName = axisHierarchy->getUniqueName();
      if (oldName == hierarchy->getUniqueName()) return;
      viewpointLog().logAt(4, "Viewpoint: Swapping out AxisHierarchy %s with Hierarchy %s due to Parameter change %s",
                           oldName, newName, parameter.getUniqueName());
      // Where the new hierarchy already sits elsewhere (several hierarchies of a dimension in
      // one view), the two trade places; otherwise the new one takes the old one's place.
      internal_swap_axis_hierarchies(oldName, hierarchy->getUniqueName());
      return;
    }
  }
}

void ViewpointCommon::reset_for_key_date(NUVA_o::Parameter&) {
  for (const auto& axis : m_Axes) {
    const auto axisHierarchies = axis->getAxisHierarchies();
    for (unsigned position = 0; position < axisHierarchies.size(); ++position) {
      NUVA_o::AxisHierarchy& axisHierarchy = *axisHierarchies[position];
      axisHierarchy.resetActiveViewMemberSet();
      axisHierarchy.resetActiveSlice();
      auto_unuse<NUVA_o::Hierarchy> current(m_pCube->getHierarchyByUniqueName(axisHierarchy.getUniqueName()));
      if (current) continue;
      NUVA_o::Hierarchy* replacement = axisHierarchy.getHierarchy()->getDimension()->getDefaultHierarchy();
      auto_unuse<NUVA_o::AxisHierarchy> removed(axis->removeAxisHierarchy(axisHierarchy.getUniqueName()));
      axis->addAxisHierarchy(replacement, position);
    }
  }
}

void ViewpointCommon::move_slices_for_parameter(NUVA_o::Parameter& parameter) {
  const NUVA_o::Parameter::ParameterType type = parameter.getType();
  NUVA_o::Hierarchy* hierarchy = parameter.getHierarchy();
  if (!hierarchy) return;
  const bool memberType = type == NUVA_o::Parameter::PT_MEMBER || type == NUVA_o::Parameter::PT_MEMBER_OR_TEXT;
  const bool defaultType = type == NUVA_o::Parameter::PT_MEMBERSET || type == NUVA_o::Parameter::PT_INTERVAL ||
                           type == NUVA_o::Parameter::PT_COMPLEX || type == NUVA_o::Parameter::PT_MEMBERSET_DERIVED;
  if (!memberType && !defaultType) return;
  for (const auto& axis : m_Axes) {
    if (axis->getAxisType() != NUVA_o::Axis::AT_SLICE) continue;
    for (const auto& axisHierarchy : axis->getAxisHierarchies()) {
      if (axisHierarchy->getUniqueName() != hierarchy->getUniqueName()) continue;
      auto_unuse<NUVA_o::Member> slice(axisHierarchy->getActiveSlice());
      const TOVAString memberName = memberType ? member_name_of(parameter) : TOVAString();
      if (memberName.empty()) {
        viewpointLog().logAt(4,
                             "Viewpoint: Resetting active slice for Hierarchy %s to the default member due to "
                             "Parameter value change %s",
                             axisHierarchy->getUniqueName(), parameter.getUniqueName());
        auto_unuse<NUVA_o::Member> defaultMember(hierarchy->getDefaultMember());
        slice->moveTo(defaultMember.get());
      } else {
        log_slice_change("Viewpoint: Changing active slice for Hierarchy %s to %s due to Parameter value change %s",
                         axisHierarchy->getUniqueName(), memberName, parameter);
        slice->moveTo(memberName);
      }
    }
  }
}

}  // namespace common

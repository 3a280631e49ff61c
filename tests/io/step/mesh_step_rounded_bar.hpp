#pragma once
// A bar 40 long (x), 30 deep (y) and 10 high (z), written the way modelling programs export a
// closed shell. Its profile in the xz plane runs A(5, 0) -> B(40, 0) -> C(40, 6), a fillet of
// radius 4 about (36, 6) to D(36, 10), then E(5, 10) and a half circle of radius 5 about
// (5, 5) back to A; the profile is extruded from y = 0 to y = 30. Its eight faces:
//   #120 bottom z = 0      #130 right x = 40      #140 top z = 10       (planes, straight edges)
//   #150 front y = 0       #160 back y = 30       (planes with arcs: not straight-edged)
//   #170 the fillet: a rational B-spline surface (an exact quarter cylinder, axis x = 36, z = 6)
//   #180 the round end: a half cylinder about the axis x = 5, z = 5.

inline const char* roundedBarStep() {
    return R"STEP(ISO-10303-21;
HEADER;
FILE_DESCRIPTION(('rounded bar'),'2;1');
FILE_NAME('rounded_bar.stp','2024-06-12T09:30:00',('designer'),('workshop'),
  'exporter 2.1','modeller 7','');
FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));
ENDSEC;
DATA;
#1=APPLICATION_CONTEXT('core data for automotive mechanical design processes');
#2=APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000,#1);
#3=PRODUCT_CONTEXT('',#1,'mechanical');
#4=PRODUCT('rounded_bar','rounded_bar','',(#3));
#5=(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.));
#6=(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.));
#7=(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT());
#8=UNCERTAINTY_MEASURE_WITH_UNIT(LENGTH_MEASURE(1.E-07),#5,'distance_accuracy_value',
  'confusion accuracy');
#9=(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNCERTAINTY_ASSIGNED_CONTEXT((#8))
  GLOBAL_UNIT_ASSIGNED_CONTEXT((#5,#6,#7))REPRESENTATION_CONTEXT('Context #1',
  '3D Context with UNIT and UNCERTAINTY'));
/* directions */
#10=DIRECTION('',(0.,0.,1.));
#11=DIRECTION('',(1.,0.,0.));
#12=DIRECTION('',(0.,1.,0.));
#13=DIRECTION('',(0.,0.,-1.));
#14=DIRECTION('',(0.,-1.,0.));
/* profile points at y = 0 (A0 to E0) and y = 30 (A1 to E1) */
#20=CARTESIAN_POINT('',(5.,0.,0.));
#21=CARTESIAN_POINT('',(40.,0.,0.));
#22=CARTESIAN_POINT('',(40.,0.,6.));
#23=CARTESIAN_POINT('',(36.,0.,10.));
#24=CARTESIAN_POINT('',(5.,0.,10.));
#25=CARTESIAN_POINT('',(5.,30.,0.));
#26=CARTESIAN_POINT('',(40.,30.,0.));
#27=CARTESIAN_POINT('',(40.,30.,6.));
#28=CARTESIAN_POINT('',(36.,30.,10.));
#29=CARTESIAN_POINT('',(5.,30.,10.));
#30=VERTEX_POINT('',#20);
#31=VERTEX_POINT('',#21);
#32=VERTEX_POINT('',#22);
#33=VERTEX_POINT('',#23);
#34=VERTEX_POINT('',#24);
#35=VERTEX_POINT('',#25);
#36=VERTEX_POINT('',#26);
#37=VERTEX_POINT('',#27);
#38=VERTEX_POINT('',#28);
#39=VERTEX_POINT('',#29);
#40=VECTOR('',#11,1.);
#41=VECTOR('',#12,1.);
#42=VECTOR('',#10,1.);
#43=LINE('',#20,#40);
#44=LINE('',#25,#40);
#45=LINE('',#21,#42);
#46=LINE('',#26,#42);
#47=LINE('',#24,#40);
#48=LINE('',#29,#40);
#49=LINE('',#20,#41);
#50=LINE('',#21,#41);
#51=LINE('',#22,#41);
#52=LINE('',#23,#41);
#53=LINE('',#24,#41);
/* the fillet arcs and the half circles of the round end */
#54=CARTESIAN_POINT('',(36.,0.,6.));
#55=AXIS2_PLACEMENT_3D('',#54,#14,#11);
#56=CIRCLE('',#55,4.);
#57=CARTESIAN_POINT('',(36.,30.,6.));
#58=AXIS2_PLACEMENT_3D('',#57,#14,#11);
#59=CIRCLE('',#58,4.);
#60=CARTESIAN_POINT('',(5.,0.,5.));
#61=AXIS2_PLACEMENT_3D('',#60,#14,#11);
#62=CIRCLE('',#61,5.);
#63=CARTESIAN_POINT('',(5.,30.,5.));
#64=AXIS2_PLACEMENT_3D('',#63,#14,#11);
#65=CIRCLE('',#64,5.);
#70=EDGE_CURVE('',#30,#31,#43,.T.);
#71=EDGE_CURVE('',#35,#36,#44,.T.);
#72=EDGE_CURVE('',#31,#32,#45,.T.);
#73=EDGE_CURVE('',#36,#37,#46,.T.);
#74=EDGE_CURVE('',#32,#33,#56,.T.);
#75=EDGE_CURVE('',#37,#38,#59,.T.);
#76=EDGE_CURVE('',#33,#34,#47,.F.);
#77=EDGE_CURVE('',#38,#39,#48,.F.);
#78=EDGE_CURVE('',#34,#30,#62,.T.);
#79=EDGE_CURVE('',#39,#35,#65,.T.);
#80=EDGE_CURVE('',#30,#35,#49,.T.);
#81=EDGE_CURVE('',#31,#36,#50,.T.);
#82=EDGE_CURVE('',#32,#37,#51,.T.);
#83=EDGE_CURVE('',#33,#38,#52,.T.);
#84=EDGE_CURVE('',#34,#39,#53,.T.);
/* the fillet surface: quadratic in u (rational), linear in v */
#90=CARTESIAN_POINT('',(40.,0.,6.));
#91=CARTESIAN_POINT('',(40.,30.,6.));
#92=CARTESIAN_POINT('',(40.,0.,10.));
#93=CARTESIAN_POINT('',(40.,30.,10.));
#94=CARTESIAN_POINT('',(36.,0.,10.));
#95=CARTESIAN_POINT('',(36.,30.,10.));
#96=(BOUNDED_SURFACE()B_SPLINE_SURFACE(2,1,((#90,#91),(#92,#93),(#94,#95)),
  .UNSPECIFIED.,.F.,.F.,.F.)B_SPLINE_SURFACE_WITH_KNOTS((3,3),(2,2),(0.,1.),(0.,30.),
  .UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()RATIONAL_B_SPLINE_SURFACE(((1.,1.),
  (0.707106781186548,0.707106781186548),(1.,1.)))REPRESENTATION_ITEM('')SURFACE());
/* bottom */
#110=ORIENTED_EDGE('',*,*,#80,.T.);
#111=ORIENTED_EDGE('',*,*,#71,.T.);
#112=ORIENTED_EDGE('',*,*,#81,.F.);
#113=ORIENTED_EDGE('',*,*,#70,.F.);
#114=EDGE_LOOP('',(#110,#111,#112,#113));
#115=FACE_OUTER_BOUND('',#114,.T.);
#116=AXIS2_PLACEMENT_3D('',#20,#13,#11);
#117=PLANE('',#116);
#120=ADVANCED_FACE('',(#115),#117,.T.);
/* right */
#121=ORIENTED_EDGE('',*,*,#81,.T.);
#122=ORIENTED_EDGE('',*,*,#73,.T.);
#123=ORIENTED_EDGE('',*,*,#82,.F.);
#124=ORIENTED_EDGE('',*,*,#72,.F.);
#125=EDGE_LOOP('',(#121,#122,#123,#124));
#126=FACE_OUTER_BOUND('',#125,.T.);
#127=AXIS2_PLACEMENT_3D('',#21,#11,#12);
#128=PLANE('',#127);
#130=ADVANCED_FACE('',(#126),#128,.T.);
/* top */
#131=ORIENTED_EDGE('',*,*,#83,.T.);
#132=ORIENTED_EDGE('',*,*,#77,.T.);
#133=ORIENTED_EDGE('',*,*,#84,.F.);
#134=ORIENTED_EDGE('',*,*,#76,.F.);
#135=EDGE_LOOP('',(#131,#132,#133,#134));
#136=FACE_OUTER_BOUND('',#135,.T.);
#137=AXIS2_PLACEMENT_3D('',#23,#10,#11);
#138=PLANE('',#137);
#140=ADVANCED_FACE('',(#136),#138,.T.);
/* front */
#141=ORIENTED_EDGE('',*,*,#70,.T.);
#142=ORIENTED_EDGE('',*,*,#72,.T.);
#143=ORIENTED_EDGE('',*,*,#74,.T.);
#144=ORIENTED_EDGE('',*,*,#76,.T.);
#145=ORIENTED_EDGE('',*,*,#78,.T.);
#146=EDGE_LOOP('',(#141,#142,#143,#144,#145));
#147=FACE_OUTER_BOUND('',#146,.T.);
#148=AXIS2_PLACEMENT_3D('',#20,#14,#11);
#149=PLANE('',#148);
#150=ADVANCED_FACE('',(#147),#149,.T.);
/* back */
#151=ORIENTED_EDGE('',*,*,#79,.F.);
#152=ORIENTED_EDGE('',*,*,#77,.F.);
#153=ORIENTED_EDGE('',*,*,#75,.F.);
#154=ORIENTED_EDGE('',*,*,#73,.F.);
#155=ORIENTED_EDGE('',*,*,#71,.F.);
#156=EDGE_LOOP('',(#151,#152,#153,#154,#155));
#157=FACE_OUTER_BOUND('',#156,.T.);
#158=AXIS2_PLACEMENT_3D('',#25,#12,#11);
#159=PLANE('',#158);
#160=ADVANCED_FACE('',(#157),#159,.T.);
/* fillet */
#161=ORIENTED_EDGE('',*,*,#82,.T.);
#162=ORIENTED_EDGE('',*,*,#75,.T.);
#163=ORIENTED_EDGE('',*,*,#83,.F.);
#164=ORIENTED_EDGE('',*,*,#74,.F.);
#165=EDGE_LOOP('',(#161,#162,#163,#164));
#166=FACE_OUTER_BOUND('',#165,.T.);
#170=ADVANCED_FACE('',(#166),#96,.F.);
/* round end */
#171=ORIENTED_EDGE('',*,*,#84,.T.);
#172=ORIENTED_EDGE('',*,*,#79,.T.);
#173=ORIENTED_EDGE('',*,*,#80,.F.);
#174=ORIENTED_EDGE('',*,*,#78,.F.);
#175=EDGE_LOOP('',(#171,#172,#173,#174));
#176=FACE_OUTER_BOUND('',#175,.T.);
#177=AXIS2_PLACEMENT_3D('',#60,#12,#11);
#178=CYLINDRICAL_SURFACE('',#177,5.);
#180=ADVANCED_FACE('',(#176),#178,.T.);
#190=CLOSED_SHELL('',(#120,#130,#140,#150,#160,#170,#180));
#191=MANIFOLD_SOLID_BREP('rounded_bar',#190);
#192=ADVANCED_BREP_SHAPE_REPRESENTATION('',(#191),#9);
ENDSEC;
END-ISO-10303-21;
)STEP";
}

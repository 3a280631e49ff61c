#pragma once
// A 40 x 30 x 10 box with a through hole of radius 5 about the vertical axis through
// (20, 15), written the way modelling programs export a closed shell. Its seven faces:
//   #101 bottom z = 0 (rectangle with the hole circle)    #113 top z = 10 (likewise)
//   #122 front y = 0   #131 right x = 40   #140 back y = 30   #149 left x = 0
//   #159 the hole: a cylinder bounded by two full circles joined by a seam line.

inline const char* boxWithHoleStep() {
    return R"STEP(ISO-10303-21;
HEADER;
FILE_DESCRIPTION(('box with a through hole'),'2;1');
FILE_NAME('box_hole.stp','2024-05-01T10:00:00',('designer'),('workshop'),
  'exporter 1.0','modeller 7','');
FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));
ENDSEC;
DATA;
#1=APPLICATION_CONTEXT('core data for automotive mechanical design processes');
#2=APPLICATION_PROTOCOL_DEFINITION('international standard','automotive_design',2000,#1);
#3=PRODUCT_CONTEXT('',#1,'mechanical');
#4=PRODUCT('box_hole','box_hole','',(#3));
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
#14=DIRECTION('',(-1.,0.,0.));
#15=DIRECTION('',(0.,-1.,0.));
/* corners and the points where the seam meets the hole circles */
#20=CARTESIAN_POINT('',(0.,0.,0.));
#21=CARTESIAN_POINT('',(40.,0.,0.));
#22=CARTESIAN_POINT('',(40.,30.,0.));
#23=CARTESIAN_POINT('',(0.,30.,0.));
#24=CARTESIAN_POINT('',(0.,0.,10.));
#25=CARTESIAN_POINT('',(40.,0.,10.));
#26=CARTESIAN_POINT('',(40.,30.,10.));
#27=CARTESIAN_POINT('',(0.,30.,10.));
#28=CARTESIAN_POINT('',(25.,15.,0.));
#29=CARTESIAN_POINT('',(25.,15.,10.));
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
#44=LINE('',#21,#41);
#45=LINE('',#23,#40);
#46=LINE('',#20,#41);
#47=LINE('',#24,#40);
#48=LINE('',#25,#41);
#49=LINE('',#27,#40);
#50=LINE('',#24,#41);
#51=LINE('',#20,#42);
#52=LINE('',#21,#42);
#53=LINE('',#22,#42);
#54=LINE('',#23,#42);
#55=LINE('',#28,#42);
#56=CARTESIAN_POINT('',(20.,15.,0.));
#57=AXIS2_PLACEMENT_3D('',#56,#10,#11);
#58=CIRCLE('',#57,5.);
#59=CARTESIAN_POINT('',(20.,15.,10.));
#60=AXIS2_PLACEMENT_3D('',#59,#10,#11);
#61=CIRCLE('',#60,5.);
#70=EDGE_CURVE('',#30,#31,#43,.T.);
#71=EDGE_CURVE('',#31,#32,#44,.T.);
#72=EDGE_CURVE('',#32,#33,#45,.F.);
#73=EDGE_CURVE('',#33,#30,#46,.F.);
#74=EDGE_CURVE('',#34,#35,#47,.T.);
#75=EDGE_CURVE('',#35,#36,#48,.T.);
#76=EDGE_CURVE('',#36,#37,#49,.F.);
#77=EDGE_CURVE('',#37,#34,#50,.F.);
#78=EDGE_CURVE('',#30,#34,#51,.T.);
#79=EDGE_CURVE('',#31,#35,#52,.T.);
#80=EDGE_CURVE('',#32,#36,#53,.T.);
#81=EDGE_CURVE('',#33,#37,#54,.T.);
#82=EDGE_CURVE('',#38,#38,#58,.T.);
#83=EDGE_CURVE('',#39,#39,#61,.T.);
#84=EDGE_CURVE('',#38,#39,#55,.T.);
/* bottom */
#90=ORIENTED_EDGE('',*,*,#73,.F.);
#91=ORIENTED_EDGE('',*,*,#72,.F.);
#92=ORIENTED_EDGE('',*,*,#71,.F.);
#93=ORIENTED_EDGE('',*,*,#70,.F.);
#94=EDGE_LOOP('',(#90,#91,#92,#93));
#95=FACE_OUTER_BOUND('',#94,.T.);
#96=ORIENTED_EDGE('',*,*,#82,.T.);
#97=EDGE_LOOP('',(#96));
#98=FACE_BOUND('',#97,.T.);
#99=AXIS2_PLACEMENT_3D('',#20,#13,#11);
#100=PLANE('',#99);
#101=ADVANCED_FACE('',(#95,#98),#100,.T.);
/* top */
#102=ORIENTED_EDGE('',*,*,#74,.T.);
#103=ORIENTED_EDGE('',*,*,#75,.T.);
#104=ORIENTED_EDGE('',*,*,#76,.T.);
#105=ORIENTED_EDGE('',*,*,#77,.T.);
#106=EDGE_LOOP('',(#102,#103,#104,#105));
#107=FACE_OUTER_BOUND('',#106,.T.);
#108=ORIENTED_EDGE('',*,*,#83,.F.);
#109=EDGE_LOOP('',(#108));
#110=FACE_BOUND('',#109,.T.);
#111=AXIS2_PLACEMENT_3D('',#24,#10,#11);
#112=PLANE('',#111);
#113=ADVANCED_FACE('',(#107,#110),#112,.T.);
/* front */
#114=ORIENTED_EDGE('',*,*,#70,.T.);
#115=ORIENTED_EDGE('',*,*,#79,.T.);
#116=ORIENTED_EDGE('',*,*,#74,.F.);
#117=ORIENTED_EDGE('',*,*,#78,.F.);
#118=EDGE_LOOP('',(#114,#115,#116,#117));
#119=FACE_OUTER_BOUND('',#118,.T.);
#120=AXIS2_PLACEMENT_3D('',#20,#15,#11);
#121=PLANE('',#120);
#122=ADVANCED_FACE('',(#119),#121,.T.);
/* right */
#123=ORIENTED_EDGE('',*,*,#71,.T.);
#124=ORIENTED_EDGE('',*,*,#80,.T.);
#125=ORIENTED_EDGE('',*,*,#75,.F.);
#126=ORIENTED_EDGE('',*,*,#79,.F.);
#127=EDGE_LOOP('',(#123,#124,#125,#126));
#128=FACE_OUTER_BOUND('',#127,.T.);
#129=AXIS2_PLACEMENT_3D('',#21,#11,#12);
#130=PLANE('',#129);
#131=ADVANCED_FACE('',(#128),#130,.T.);
/* back */
#132=ORIENTED_EDGE('',*,*,#72,.T.);
#133=ORIENTED_EDGE('',*,*,#81,.T.);
#134=ORIENTED_EDGE('',*,*,#76,.F.);
#135=ORIENTED_EDGE('',*,*,#80,.F.);
#136=EDGE_LOOP('',(#132,#133,#134,#135));
#137=FACE_OUTER_BOUND('',#136,.T.);
#138=AXIS2_PLACEMENT_3D('',#22,#12,#14);
#139=PLANE('',#138);
#140=ADVANCED_FACE('',(#137),#139,.T.);
/* left */
#141=ORIENTED_EDGE('',*,*,#73,.T.);
#142=ORIENTED_EDGE('',*,*,#78,.T.);
#143=ORIENTED_EDGE('',*,*,#77,.F.);
#144=ORIENTED_EDGE('',*,*,#81,.F.);
#145=EDGE_LOOP('',(#141,#142,#143,#144));
#146=FACE_OUTER_BOUND('',#145,.T.);
#147=AXIS2_PLACEMENT_3D('',#23,#14,#15);
#148=PLANE('',#147);
#149=ADVANCED_FACE('',(#146),#148,.T.);
/* the hole */
#150=ORIENTED_EDGE('',*,*,#82,.F.);
#151=ORIENTED_EDGE('',*,*,#84,.T.);
#152=ORIENTED_EDGE('',*,*,#83,.T.);
#153=ORIENTED_EDGE('',*,*,#84,.F.);
#154=EDGE_LOOP('',(#150,#151,#152,#153));
#155=FACE_BOUND('',#154,.T.);
#156=CARTESIAN_POINT('',(20.,15.,0.));
#157=AXIS2_PLACEMENT_3D('',#156,#10,#11);
#158=CYLINDRICAL_SURFACE('',#157,5.);
#159=ADVANCED_FACE('',(#155),#158,.F.);
#160=CLOSED_SHELL('',(#101,#113,#122,#131,#140,#149,#159));
#161=MANIFOLD_SOLID_BREP('box_hole',#160);
#162=ADVANCED_BREP_SHAPE_REPRESENTATION('',(#161),#9);
ENDSEC;
END-ISO-10303-21;
)STEP";
}

<?xml version="1.0" encoding="UTF-8"?>
<!-- The XMP view of the metadata dialog: any XML document as an indented,
     coloured tree of its elements, attributes, texts, comments and
     processing instructions. Produces only text and markup of its own: no
     links, no images, nothing the page would load. Each line is a block of
     its own, indented by its depth, so simple HTML views show it alike. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="UTF-8" indent="no"/>

  <xsl:template match="/">
    <html>
      <head><title>XMP</title></head>
      <body style="font-family: monospace; font-size: 10pt; background-color: #ffffff;">
        <xsl:apply-templates select="node()"/>
      </body>
    </html>
  </xsl:template>

  <xsl:template name="indent">
    <xsl:param name="depth" select="count(ancestor::*)"/>
    <xsl:text>margin-left: </xsl:text><xsl:value-of select="$depth * 16"/><xsl:text>px;</xsl:text>
  </xsl:template>

  <xsl:template name="open">
    <span style="color: #1a3d8f;">&lt;<xsl:value-of select="name()"/></span>
    <xsl:for-each select="namespace::*[name() != 'xml' and not(. = ../../namespace::*)]">
      <xsl:text> </xsl:text>
      <span style="color: #8f1a1a;">xmlns<xsl:if test="name() != ''">:<xsl:value-of select="name()"/></xsl:if></span>
      <xsl:text>="</xsl:text><span style="font-weight: bold;"><xsl:value-of select="."/></span><xsl:text>"</xsl:text>
    </xsl:for-each>
    <xsl:for-each select="@*">
      <xsl:text> </xsl:text>
      <span style="color: #8f1a1a;"><xsl:value-of select="name()"/></span>
      <xsl:text>="</xsl:text><span style="font-weight: bold;"><xsl:value-of select="."/></span><xsl:text>"</xsl:text>
    </xsl:for-each>
  </xsl:template>

  <xsl:template name="close">
    <span style="color: #1a3d8f;">&lt;/<xsl:value-of select="name()"/>&gt;</span>
  </xsl:template>

  <!-- An element with nothing but one text: one line. -->
  <xsl:template match="*[not(*) and not(comment()) and not(processing-instruction()) and normalize-space(.) != '']">
    <div><xsl:attribute name="style"><xsl:call-template name="indent"/></xsl:attribute>
      <xsl:call-template name="open"/>
      <span style="color: #1a3d8f;">&gt;</span>
      <span style="font-weight: bold;"><xsl:value-of select="."/></span>
      <xsl:call-template name="close"/>
    </div>
  </xsl:template>

  <xsl:template match="*">
    <div><xsl:attribute name="style"><xsl:call-template name="indent"/></xsl:attribute>
      <xsl:call-template name="open"/>
      <span style="color: #1a3d8f;"><xsl:if test="not(node())"> /</xsl:if>&gt;</span>
    </div>
    <xsl:if test="node()">
      <xsl:apply-templates select="node()"/>
      <div><xsl:attribute name="style"><xsl:call-template name="indent"/></xsl:attribute>
        <xsl:call-template name="close"/>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template match="text()">
    <xsl:if test="normalize-space(.) != ''">
      <div style="font-weight: bold;"><xsl:attribute name="style">font-weight: bold; <xsl:call-template name="indent"><xsl:with-param name="depth" select="count(ancestor::*)"/></xsl:call-template></xsl:attribute>
        <xsl:value-of select="."/>
      </div>
    </xsl:if>
  </xsl:template>

  <xsl:template match="comment()">
    <div><xsl:attribute name="style">color: #5a7a5a; <xsl:call-template name="indent"/></xsl:attribute>&lt;!--<xsl:value-of select="."/>--&gt;</div>
  </xsl:template>

  <xsl:template match="processing-instruction()">
    <div><xsl:attribute name="style">color: #1a6f8f; <xsl:call-template name="indent"/></xsl:attribute>&lt;?<xsl:value-of select="name()"/><xsl:text> </xsl:text><xsl:value-of select="."/>?&gt;</div>
  </xsl:template>
</xsl:stylesheet>
